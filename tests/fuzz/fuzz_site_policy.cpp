// The administrators' policy on arbitrary lists and sites: an entry either
// parses into a plain lower-case host name or is ignored, and the verdict
// agrees with a re-statement of the matching rule written label by label.
// Input: lines; the first is the site, each other one an entry, allowed when
// it begins with 'a', blocked otherwise (that first character is dropped).
#include "fuzz_support.h"
#include "policy/site_policy.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

std::vector<std::wstring> Split(const std::wstring& text, wchar_t separator)
{
    std::vector<std::wstring> parts;
    size_t start = 0;
    for (size_t at = text.find(separator); at != std::wstring::npos; at = text.find(separator, start)) {
        parts.push_back(text.substr(start, at - start));
        start = at + 1;
    }
    parts.push_back(text.substr(start));
    return parts;
}

// How closely an entry matches, by labels: the host's labels end the site's.
uint32_t ModelMatch(const PolicyEntry& entry, std::wstring site)
{
    if (!site.empty() && site.back() == L'.')
        site.pop_back();
    std::vector<std::wstring> siteLabels = Split(Lower(site), L'.'), hostLabels = Split(entry.host, L'.');
    if (hostLabels.size() > siteLabels.size())
        return 0;
    for (size_t i = 1; i <= hostLabels.size(); ++i) {
        if (siteLabels[siteLabels.size() - i] != hostLabels[hostLabels.size() - i])
            return 0;
    }
    bool exact = hostLabels.size() == siteLabels.size();
    if (!exact && !entry.withSubdomains)
        return 0;
    return 2 * uint32_t(hostLabels.size()) + (exact && !entry.withSubdomains ? 1 : 0);
}

uint32_t ModelClosest(const PolicyList& list, const std::wstring& site)
{
    uint32_t closest = 0;
    for (uint32_t i = 0; i < list.count; ++i)
        closest = std::max(closest, ModelMatch(list.entries[i], site));
    return closest;
}

void CheckEntry(const PolicyEntry& entry)
{
    std::wstring host = entry.host;
    FUZZ_CHECK(!host.empty() && host.size() <= 253 && host == Lower(host));
    FUZZ_CHECK(host.front() != L'.' && host.back() != L'.' && host.find(L"..") == std::wstring::npos);
    for (wchar_t c : host)
        FUZZ_CHECK((c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'_' || c == L'.');
    FUZZ_CHECK(PolicyMatch(entry, entry.host) != 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::vector<std::wstring> lines = Split(UpToTerminator(DecodeWide(data, size)), L'\n');
    const std::wstring site = lines[0];
    SitePolicy policy = {};
    for (size_t i = 1; i < lines.size(); ++i) {
        if (lines[i].empty())
            continue;
        PolicyList* list = lines[i][0] == L'a' ? &policy.allowed : &policy.blocked;
        uint32_t before = list->count;
        bool taken = AddPolicyEntry(list, lines[i].c_str() + 1);
        FUZZ_CHECK(list->count == before + (taken ? 1 : 0));
        if (taken)
            CheckEntry(list->entries[before]);
    }
    for (const PolicyList* list : {&policy.allowed, &policy.blocked}) {
        for (uint32_t i = 0; i < list->count; ++i)
            FUZZ_CHECK(PolicyMatch(list->entries[i], site.c_str()) == ModelMatch(list->entries[i], site));
    }
    uint32_t allowed = ModelClosest(policy.allowed, site), blocked = ModelClosest(policy.blocked, site);
    PolicyVerdict expected = blocked && blocked >= allowed ? PolicyBlocks : allowed ? PolicyAllows : PolicySilent;
    FUZZ_CHECK(JudgeSite(&policy, site.c_str()) == expected);
    ClearPolicy(&policy);
    return 0;
}
