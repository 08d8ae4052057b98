#include "io/QuoteText.h"

namespace gridmorph {

std::string QuoteForMessage(std::string_view text, std::size_t nLongest)
{
    static const char s_szHex[] = "0123456789ABCDEF";
    std::string strQuoted = "'";
    const std::size_t nShown = text.size() > nLongest ? nLongest : text.size();
    for (std::size_t i = 0; i < nShown; ++i) {
        const unsigned char c = static_cast<unsigned char>(text[i]);
        if (c < 0x20 || c >= 0x7F || c == '\'' || c == '\\') {
            strQuoted += "\\x";
            strQuoted += s_szHex[c >> 4];
            strQuoted += s_szHex[c & 15];
        } else {
            strQuoted += static_cast<char>(c);
        }
    }
    strQuoted += "'";
    if (nShown < text.size())
        strQuoted += "... (" + std::to_string(text.size()) + " bytes)";
    return strQuoted;
}

}  // namespace gridmorph
