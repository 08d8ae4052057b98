#include "platform/HeadlessPlatform.h"

#include <unistd.h>

namespace gridmorph {

CHeadlessPlatform::CHeadlessPlatform(std::FILE* pMessageStream) : m_pMessageStream(pMessageStream) {}

EAnswer CHeadlessPlatform::MessageBox(const std::string& strText, EMessageKind eKind)
{
    const bool bQuestion = eKind == EMessageKind::QuestionYesNo || eKind == EMessageKind::QuestionYesNoCancel;
    if (!m_bQuiet || bQuestion) {
        const char* pLabel = eKind == EMessageKind::Warning       ? "warning"
                             : eKind == EMessageKind::Information ? "note"
                                                                  : "question";
        std::fprintf(m_pMessageStream, "gridmorph %s: %s\n", pLabel, strText.c_str());
        if (bQuestion)
            std::fprintf(m_pMessageStream, "  (answered %s)\n", m_eQuestionAnswer == EAnswer::Yes ? "Yes" : "No");
        std::fflush(m_pMessageStream);
    }
    if (!bQuestion)
        return EAnswer::Ok;
    if (m_eQuestionAnswer == EAnswer::Cancel && eKind == EMessageKind::QuestionYesNo)
        return EAnswer::No;
    return m_eQuestionAnswer;
}

SFileDialogResult CHeadlessPlatform::GetOpenFileName(const SFileDialogRequest&) { return {}; }
SFileDialogResult CHeadlessPlatform::GetSaveFileName(const SFileDialogRequest&) { return {}; }

int CHeadlessPlatform::GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault)
{
    return m_profile.GetInt(strSection, strEntry, nDefault);
}

void CHeadlessPlatform::WriteProfileInt(const std::string& strSection, const std::string& strEntry, int nValue)
{
    m_profile.Write(strSection, strEntry, std::to_string(nValue));
}

std::string CHeadlessPlatform::GetProfileString(const std::string& strSection, const std::string& strEntry,
                                                const std::string& strDefault)
{
    return m_profile.GetString(strSection, strEntry, strDefault);
}

void CHeadlessPlatform::WriteProfileString(const std::string& strSection, const std::string& strEntry,
                                           const std::string& strValue)
{
    m_profile.Write(strSection, strEntry, strValue);
}

void CHeadlessPlatform::StartProgress(int nLower, int nUpper, const std::string& strText)
{
    m_bProgressOnTerminal = !m_bQuiet && isatty(fileno(m_pMessageStream));
    m_bProgressActive = true;
    m_nLower = nLower;
    m_nUpper = nUpper;
    m_nLastPercent = -1;
    if (!strText.empty())
        m_strProgressText = strText;
    DrawBar(nLower);
}

void CHeadlessPlatform::SetProgress(int nPosition, const std::string& strText)
{
    if (!strText.empty())
        m_strProgressText = strText;
    DrawBar(nPosition);
}

void CHeadlessPlatform::EndProgress()
{
    if (m_bProgressActive && m_bProgressOnTerminal) {
        std::fputc('\n', m_pMessageStream);
        std::fflush(m_pMessageStream);
    }
    m_bProgressActive = false;
}

void CHeadlessPlatform::DrawBar(int nPosition)
{
    if (!m_bProgressActive || !m_bProgressOnTerminal)
        return;
    const long long nSpan = static_cast<long long>(m_nUpper) - m_nLower;
    long long nPercent = nSpan > 0 ? (static_cast<long long>(nPosition) - m_nLower) * 100 / nSpan : 100;
    nPercent = nPercent < 0 ? 0 : (nPercent > 100 ? 100 : nPercent);
    if (nPercent == m_nLastPercent)
        return;  // redraw only when the figure changes: a row loop calls this thousands of times
    m_nLastPercent = static_cast<int>(nPercent);
    constexpr int nBarWidth = 30;
    const int nFilled = static_cast<int>(nPercent * nBarWidth / 100);
    std::fprintf(m_pMessageStream, "\r%s [%.*s%*s] %3lld%%", m_strProgressText.c_str(), nFilled,
                 "##############################", nBarWidth - nFilled, "", nPercent);
    std::fflush(m_pMessageStream);
}

}  // namespace gridmorph
