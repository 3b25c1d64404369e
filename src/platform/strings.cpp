#include "platform/strings.h"

#include <cstdlib>

namespace platform {

namespace {

unsigned char foldAscii(unsigned char c)
{
    return c >= 'A' && c <= 'Z' ? static_cast<unsigned char>(c - 'A' + 'a') : c;
}

} // namespace

char *selvo_str_url_decode(const char *text, std::size_t length)
{
    if (text == nullptr && length != 0)
        return nullptr;
    char *decoded = static_cast<char *>(std::malloc(length + 1));
    if (decoded == nullptr)
        return nullptr;
    std::size_t out = 0;
    for (std::size_t in = 0; in < length; ++in) {
        if (text[in] == '%' && in + 2 < length) {
            const int high = hexDigitValue(text[in + 1]);
            const int low = hexDigitValue(text[in + 2]);
            if (high >= 0 && low >= 0) {
                decoded[out++] = static_cast<char>(high * 16 + low);
                in += 2;
                continue;
            }
        }
        decoded[out++] = text[in];
    }
    decoded[out] = '\0';
    return decoded;
}

int _strnicmp(const char *a, const char *b, std::size_t count)
{
    for (std::size_t i = 0; i < count; ++i) {
        const unsigned char ca = foldAscii(static_cast<unsigned char>(a[i]));
        const unsigned char cb = foldAscii(static_cast<unsigned char>(b[i]));
        if (ca != cb)
            return ca < cb ? -1 : 1;
        if (ca == '\0')
            return 0;
    }
    return 0;
}

int hexDigitValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace platform
