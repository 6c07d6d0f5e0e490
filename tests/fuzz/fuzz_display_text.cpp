// The prompt's text preparation on arbitrary page text and formats: never a
// write past the limit, always terminated, always the exact prefix of the full
// message (never half of a doubled "&"), and no deceptive character left after
// CopyForDisplay.
#include "fuzz_support.h"
#include "ui/display_text.h"

#include <fuzzer/FuzzedDataProvider.h>

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// The message as it would read with unlimited room, each "&" of the values
// doubled; secondHalf marks where a cut would split such a pair.
std::wstring Expand(const std::wstring& format, const std::wstring& first, const std::wstring& second,
                    std::vector<bool>& secondHalf)
{
    std::wstring message;
    int used = 0;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] == L'%' && i + 1 < format.size() && format[i + 1] == L's' && used < 2) {
            for (wchar_t c : used++ == 0 ? first : second) {
                message += c;
                secondHalf.push_back(false);
                if (c == L'&') {
                    message += c;
                    secondHalf.push_back(true);
                }
            }
            ++i;
        } else {
            message += format[i];
            secondHalf.push_back(false);
        }
    }
    return message;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    FuzzedDataProvider input(data, size);
    size_t outLength = input.ConsumeIntegralInRange<size_t>(1, 600);
    std::wstring format = UpToTerminator(DecodeWide(input.ConsumeRandomLengthString(400)));
    std::wstring site = UpToTerminator(DecodeWide(input.ConsumeRandomLengthString(400)));
    std::wstring title = UpToTerminator(DecodeWide(input.ConsumeRemainingBytesAsString()));

    // Exactly outLength characters, so AddressSanitizer catches any write beyond.
    wchar_t* out = static_cast<wchar_t*>(malloc(outLength * sizeof(wchar_t)));

    size_t whole = FormatPromptMessage(format.c_str(), site.c_str(), title.c_str(), out, outLength);
    std::vector<bool> secondHalf;
    std::wstring full = Expand(format, site, title, secondHalf);
    FUZZ_CHECK(whole == full.size());
    size_t kept = std::min(full.size(), outLength - 1);
    if (kept < full.size() && secondHalf[kept])
        --kept;
    FUZZ_CHECK(std::wstring(out) == full.substr(0, kept));

    CopyForDisplay(title.c_str(), out, outLength);
    size_t shown = std::wcslen(out);
    FUZZ_CHECK(shown == std::min(title.size(), outLength - 1));
    for (size_t i = 0; i < shown; ++i) {
        FUZZ_CHECK(!IsDeceptiveCharacter(out[i]));
        FUZZ_CHECK(out[i] == (IsDeceptiveCharacter(title[i]) ? wchar_t(0xFFFD) : title[i]));
    }

    wchar_t* copy = DuplicateForDisplay(site.c_str());
    FUZZ_CHECK(std::wcslen(copy) == site.size());
    free(copy);
    free(out);
    return 0;
}
