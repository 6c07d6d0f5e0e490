// ParseCommandLine on arbitrary tails: it must stay inside the tail, and agree
// with a plain re-statement of the splitting rules written with std::wstring.
#include "app/command_line.h"
#include "fuzz_support.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>

namespace {

struct Expected {
    int result = 0;
    std::optional<std::wstring> languageCode, site, windowTitle;
};

// One trailing, then one leading double quote.
std::wstring StripQuotes(std::wstring value)
{
    if (!value.empty() && value.back() == L'"')
        value.pop_back();
    if (!value.empty() && value.front() == L'"')
        value.erase(0, 1);
    return value;
}

Expected Split(const std::wstring& tail)
{
    Expected e;
    size_t p1 = tail.find(L' ');
    if (p1 == std::wstring::npos) {
        if (!tail.empty())
            e.languageCode = Lower(tail);
        return e;
    }
    e.languageCode = StripQuotes(Lower(tail.substr(0, p1)));
    std::wstring rest = tail.substr(p1 + 1);
    if (rest.empty())
        return e;
    size_t p2 = rest.find(L' ');
    if (p2 == std::wstring::npos) {
        e.site = rest;  // as found: two values only
        return e;
    }
    e.site = StripQuotes(Lower(rest.substr(0, p2)));
    e.windowTitle = StripQuotes(rest.substr(p2 + 1));
    e.result = 1;
    return e;
}

// A set field must begin inside the tail, end at a terminator inside it, and hold what was expected.
void Check(const wchar_t* field, const wchar_t* begin, size_t length, const std::optional<std::wstring>& expected)
{
    FUZZ_CHECK(!field == !expected);
    if (!field)
        return;
    FUZZ_CHECK(field >= begin && field <= begin + length);
    const wchar_t* c = field;
    while (c < begin + length && *c)
        ++c;
    FUZZ_CHECK(*c == L'\0');
    FUZZ_CHECK(*expected == field);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::wstring text = UpToTerminator(DecodeWide(data, size));
    Expected expected = Split(text);

    // Exactly the tail and its terminator, so AddressSanitizer sees any step outside.
    size_t length = text.size();
    wchar_t* tail = static_cast<wchar_t*>(malloc((length + 1) * sizeof(wchar_t)));
    memcpy(tail, text.c_str(), (length + 1) * sizeof(wchar_t));

    LaunchValues values{};
    int result = ParseCommandLine(tail, &values);

    FUZZ_CHECK(result == expected.result);
    FUZZ_CHECK((result == 1) == (values.languageCode && values.site && values.windowTitle));
    Check(values.languageCode, tail, length, expected.languageCode);
    Check(values.site, tail, length, expected.site);
    Check(values.windowTitle, tail, length, expected.windowTitle);

    free(tail);
    return 0;
}
