// Shared by the fuzz targets: a check that names what failed, the case rule,
// and the decoding of fuzzer bytes into text.
//
// DecodeWide turns fuzzer bytes into UTF-16 code units as the program sees them on
// Windows, weighted towards the characters the logic cares about: one byte is
// one character up to 0xEF (ASCII, spaces, quotes, Latin-1 letters such as
// U+00C4/U+00E4); 0xF0-0xFF takes the next two bytes as any code unit.
#ifndef HALVANE_FUZZ_SUPPORT_H
#define HALVANE_FUZZ_SUPPORT_H

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

// Aborts with the failed condition, so libFuzzer keeps the input that broke it.
#define FUZZ_CHECK(condition)                                                                    \
    do {                                                                                         \
        if (!(condition)) {                                                                      \
            std::fprintf(stderr, "%s:%d: check failed: %s\n", __FILE__, __LINE__, #condition); \
            std::abort();                                                                        \
        }                                                                                        \
    } while (0)

// A-Z lowered, as the program's case rule does; nothing else.
inline std::wstring Lower(std::wstring text)
{
    for (wchar_t& c : text)
        if (c >= L'A' && c <= L'Z')
            c = static_cast<wchar_t>(c + 32);
    return text;
}

// The text ends at its first terminator, as every string the program handles.
inline std::wstring UpToTerminator(const std::wstring& text)
{
    return text.substr(0, text.find(L'\0'));
}

inline std::wstring DecodeWide(const uint8_t* data, size_t size)
{
    std::wstring text;
    for (size_t i = 0; i < size; ++i) {
        if (data[i] < 0xF0) {
            text += static_cast<wchar_t>(data[i]);
        } else if (i + 2 < size) {
            text += static_cast<wchar_t>(data[i + 1] | (data[i + 2] << 8));
            i += 2;
        }
    }
    return text;
}

inline std::wstring DecodeWide(const std::string& bytes)
{
    return DecodeWide(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
}

#endif
