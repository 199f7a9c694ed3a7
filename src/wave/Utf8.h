// UTF-8 as names and tags need it: checking it, and turning the Latin-1
// text of older programs into it.
#pragma once

#include <cstddef>
#include <string>

namespace corvella::wave {

// The length of the UTF-8 sequence starting at text[at], or 0 when the
// bytes there are not one (overlong forms, surrogates and values past
// U+10FFFF are not).
std::size_t Utf8Length(const std::string& text, std::size_t at);
// Whether `text` is valid UTF-8.
bool IsUtf8(const std::string& text);
// Latin-1 text as UTF-8.
std::string Latin1ToUtf8(const std::string& text);

}  // namespace corvella::wave
