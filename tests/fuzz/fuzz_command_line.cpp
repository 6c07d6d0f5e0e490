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
    std::wstring title = rest.substr(p2 + 1);
    if (!title.empty() && title.front() == L'"')
        title.erase(0, 1);
    if (!title.empty() && title.back() == L'"')
        title.pop_back();
    e.windowTitle = title;
    e.result = 1;
    return e;
}

// A set field must begin inside the tail and end at a terminator inside it.
void CheckInside(const wchar_t* field, const wchar_t* begin, size_t length)
{
    if (!field)
        return;
    FUZZ_CHECK(field >= begin && field <= begin + length);
    const wchar_t* c = field;
    while (c < begin + length && *c)
        ++c;
    FUZZ_CHECK(*c == L'\0');
}

void CheckSame(const wchar_t* actual, const std::optional<std::wstring>& expected)
{
    FUZZ_CHECK(!actual == !expected);
    FUZZ_CHECK(!actual || *expected == actual);
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

    FUZZ_CHECK(result == 0 || result == 1);
    FUZZ_CHECK((result == 1) == (values.languageCode && values.site && values.windowTitle));
    CheckInside(values.languageCode, tail, length);
    CheckInside(values.site, tail, length);
    CheckInside(values.windowTitle, tail, length);
    FUZZ_CHECK(result == expected.result);
    CheckSame(values.languageCode, expected.languageCode);
    CheckSame(values.site, expected.site);
    CheckSame(values.windowTitle, expected.windowTitle);

    free(tail);
    return 0;
}
