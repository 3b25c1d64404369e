// String services of the portable runtime: percent-decoding, a bounded comparison that ignores
// letter case, and the value of a hexadecimal digit.
#pragma once

#include <cstddef>

namespace platform {

// Decodes every "%XX" escape (two hex digits) of the first `length` bytes of `text`; "+" and
// malformed escapes stay as they are. Returns a malloc'ed NUL-terminated string that the caller
// releases with free(), or null when memory runs out. A "%00" puts a NUL into the result, so
// the result reads as ending there.
char *selvo_str_url_decode(const char *text, std::size_t length);

// Compares at most `count` characters of two NUL-terminated strings, folding ASCII letters only.
// Zero when they are equal that far; otherwise the sign of the first difference.
int _strnicmp(const char *a, const char *b, std::size_t count);

// The value of one hexadecimal digit, either case; -1 for any other character.
int hexDigitValue(char c);

} // namespace platform
