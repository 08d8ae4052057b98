#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace gridmorph {

// A piece of untrusted input for a message: in single quotes, at most nLongest bytes of
// it (then "..." and its full length), control characters, quotes and bytes beyond ASCII
// written as \xHH, so that a huge field or a terminal escape sequence is never echoed.
std::string QuoteForMessage(std::string_view text, std::size_t nLongest = 40);

}  // namespace gridmorph
