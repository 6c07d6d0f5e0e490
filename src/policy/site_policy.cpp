#include "policy/site_policy.h"

#include "decisions/decision_table.h"
#include "policy/policy_keys.h"
#include "text/text.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

SitePolicy AdminPolicy;

namespace {

const wchar_t SubdomainsMark[] = L"[*.]";
const uint32_t SubdomainsMarkLength = 4;
enum : uint32_t { LongestHost = 253, LongestLabel = 63 };

bool IsBlank(wchar_t c)
{
    return c == L' ' || c == L'\t';
}

bool IsHostCharacter(wchar_t c)
{
    c = FoldAsciiCase(c);
    return (c >= L'a' && c <= L'z') || (c >= L'0' && c <= L'9') || c == L'-' || c == L'_';
}

// Labels of 1 to 63 host characters between single dots, 253 characters in all.
bool IsHostName(const wchar_t* host, uint32_t length)
{
    if (length == 0 || length > LongestHost)
        return false;
    uint32_t label = 0;
    for (uint32_t i = 0; i < length; ++i) {
        if (host[i] == L'.') {
            if (label == 0)
                return false;
            label = 0;
        } else if (!IsHostCharacter(host[i]) || ++label > LongestLabel) {
            return false;
        }
    }
    return label != 0;
}

uint32_t LabelCount(const wchar_t* host)
{
    uint32_t labels = 1;
    for (; *host; ++host)
        labels += *host == L'.';
    return labels;
}

bool EqualFolded(const wchar_t* a, const wchar_t* b, uint32_t length)
{
    for (uint32_t i = 0; i < length; ++i) {
        if (FoldAsciiCase(a[i]) != FoldAsciiCase(b[i]))
            return false;
    }
    return true;
}

// The closest match of any entry of the list.
uint32_t ClosestMatch(const PolicyList& list, const wchar_t* site)
{
    uint32_t closest = 0;
    for (uint32_t i = 0; i < list.count; ++i) {
        uint32_t match = PolicyMatch(list.entries[i], site);
        if (match > closest)
            closest = match;
    }
    return closest;
}

void ClearList(PolicyList* list)
{
    for (uint32_t i = 0; i < list->count; ++i)
        free(list->entries[i].host);
    free(list->entries);
    *list = PolicyList{};
}

}  // namespace

bool ParsePolicyEntry(const wchar_t* text, PolicyEntry* entry)
{
    while (IsBlank(*text))
        ++text;
    size_t length = wcslen(text);
    while (length > 0 && IsBlank(text[length - 1]))
        --length;
    bool withSubdomains = length > SubdomainsMarkLength && EqualFolded(text, SubdomainsMark, SubdomainsMarkLength);
    if (withSubdomains) {
        text += SubdomainsMarkLength;
        length -= SubdomainsMarkLength;
    }
    if (length > LongestHost || !IsHostName(text, static_cast<uint32_t>(length)))
        return false;
    entry->host = DuplicateText(text, static_cast<uint32_t>(length));
    LowerCaseAscii(entry->host);
    entry->withSubdomains = withSubdomains;
    return true;
}

bool AddPolicyEntry(PolicyList* list, const wchar_t* text)
{
    PolicyEntry entry;
    if (!ParsePolicyEntry(text, &entry))
        return false;
    if (list->count == list->capacity) {
        uint32_t capacity = list->capacity ? 2 * list->capacity : 16;
        PolicyEntry* grown = static_cast<PolicyEntry*>(AllocateOrDie(uint64_t(capacity) * sizeof(PolicyEntry)));
        if (list->count)
            memcpy(grown, list->entries, list->count * sizeof(PolicyEntry));
        free(list->entries);
        list->entries = grown;
        list->capacity = capacity;
    }
    list->entries[list->count++] = entry;
    return true;
}

void ClearPolicy(SitePolicy* policy)
{
    ClearList(&policy->allowed);
    ClearList(&policy->blocked);
    policy->neverAsk = false;
}

uint32_t PolicyMatch(const PolicyEntry& entry, const wchar_t* site)
{
    size_t siteLength = wcslen(site);
    // "example.com." is the same host as "example.com": a policy is not slipped past by a final dot.
    if (siteLength > 0 && site[siteLength - 1] == L'.')
        --siteLength;
    size_t hostLength = wcslen(entry.host);
    uint32_t closeness = 2 * LabelCount(entry.host);
    if (siteLength == hostLength && EqualFolded(site, entry.host, static_cast<uint32_t>(hostLength)))
        return entry.withSubdomains ? closeness : closeness + 1;
    if (!entry.withSubdomains || siteLength < hostLength + 1)
        return 0;
    const wchar_t* tail = site + (siteLength - hostLength);
    return tail[-1] == L'.' && EqualFolded(tail, entry.host, static_cast<uint32_t>(hostLength)) ? closeness : 0;
}

PolicyVerdict JudgeSite(const SitePolicy* policy, const wchar_t* site)
{
    uint32_t blocked = ClosestMatch(policy->blocked, site);
    uint32_t allowed = ClosestMatch(policy->allowed, site);
    if (blocked && blocked >= allowed)
        return PolicyBlocks;
    return allowed ? PolicyAllows : PolicySilent;
}

SiteRoad ChooseRoad(const SitePolicy* policy, const wchar_t* site, int32_t userDecision)
{
    switch (JudgeSite(policy, site)) {
    case PolicyBlocks:
        return RoadDeclineByPolicy;
    case PolicyAllows:
        return RoadKeepByPolicy;
    case PolicySilent:
        break;
    }
    if (userDecision == DecisionAllow)
        return RoadKeepByUser;
    if (userDecision != NoDecision)
        return RoadDeclineByUser;
    return policy->neverAsk ? RoadDeclineByPolicy : RoadAsk;
}

void BuildPolicy(const PolicySource& machine, const PolicySource& user, SitePolicy* policy)
{
    ClearPolicy(policy);
    const struct {
        const wchar_t* name;
        PolicyList* list;
    } lists[] = {{POLICY_ALLOWED_SITES, &policy->allowed}, {POLICY_BLOCKED_SITES, &policy->blocked}};
    for (const auto& list : lists) {
        if (!machine.ReadList(machine.context, list.name, list.list))
            user.ReadList(user.context, list.name, list.list);
    }
    uint32_t value = PolicyDefaultAsk;
    if (!machine.ReadDefault(machine.context, &value))
        user.ReadDefault(user.context, &value);
    policy->neverAsk = value == PolicyDefaultNeverAsk;
}
