// Names that one file system or another takes for the same file: Windows
// and macOS compare names without regard to case, and macOS to how an
// accented letter is composed (é as one character, or e and an accent).
// Parts named so would replace each other there; they are taken for the
// same name on every system, so that a list behaves alike everywhere.
#pragma once

#include <string>

namespace corvella::split {

// The name's key: every letter decomposed and in lower case (for Latin,
// Greek and Cyrillic letters); two names with the same key are the same
// name. Bytes that are not UTF-8 stand for themselves.
std::string SameNameKey(const std::string& name);

}  // namespace corvella::split
