// The host's conversions between UTF-8 and UTF-16: the command line's wide
// arguments to UTF-8 on Windows, and the paths to the library's UTF-16. Both
// let an unpaired surrogate through (in the generalised three-byte form in
// UTF-8), so the library is handed a name as it was given and judges it.
#pragma once

#include <string>

// Strict UTF-8 to UTF-16; false for malformed input (overlong forms, truncated
// sequences, a surrogate pair spelt as two three-byte forms), which cannot name
// a file the library could be given. An unpaired surrogate in the three-byte
// form becomes that surrogate, for the library to judge.
bool ConvertUtf8ToUtf16(const std::string& text, std::u16string* wide);

// UTF-16 to UTF-8, passing unpaired surrogates through in the generalised
// three-byte form rather than replacing them.
std::string ConvertUtf16ToUtf8(const std::u16string& wide);
