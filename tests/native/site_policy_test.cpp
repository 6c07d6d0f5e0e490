// The administrators' policy apart from the registry: which entries a list
// takes, how sites match them, which list wins, the order of policy, the
// user's own decision and the default, and the machine's values over the user's.
#include "decisions/decision_table.h"
#include "policy/policy_keys.h"
#include "policy/site_policy.h"

#include <gtest/gtest.h>

#include <map>
#include <string>
#include <vector>

namespace {

// Every test's policy is cleared at its end, so LeakSanitizer sees each entry released.
class SitePolicyTest : public testing::Test {
protected:
    void TearDown() override { ClearPolicy(&policy); }

    void Set(std::vector<const wchar_t*> allowed, std::vector<const wchar_t*> blocked, bool neverAsk = false)
    {
        ClearPolicy(&policy);
        for (const wchar_t* entry : allowed)
            AddPolicyEntry(&policy.allowed, entry);
        for (const wchar_t* entry : blocked)
            AddPolicyEntry(&policy.blocked, entry);
        policy.neverAsk = neverAsk;
    }

    SitePolicy policy = {};
};

std::string Narrow(const std::wstring& text)
{
    return std::string(text.begin(), text.end());
}

TEST_F(SitePolicyTest, TakesHostNamesAndSubdomainPatternsAndIgnoresEverythingElse)
{
    const std::wstring label63(63, L'a'), label64(64, L'a');
    // 3 labels of 63 and one of 61: 253 characters, the most a host name has.
    const std::wstring longest = label63 + L"." + label63 + L"." + label63 + L"." + std::wstring(61, L'b');
    const struct {
        std::wstring text;
        std::wstring host;  // empty: not an entry
        bool withSubdomains;
    } rows[] = {
        {L"example.com", L"example.com", false},
        {L"[*.]example.com", L"example.com", true},
        {L"EXAMPLE.Com", L"example.com", false},
        {L"[*.]Intranet", L"intranet", true},
        {L"  support.example.com\t", L"support.example.com", false},  // as typed into a list box
        {L"my_host-1.example.com", L"my_host-1.example.com", false},
        {L"192.168.0.10", L"192.168.0.10", false},
        {longest, longest, false},
        {L"[*.]" + longest, longest, true},
        {longest + L"b", L"", false},
        {label63 + L".com", label63 + L".com", false},
        {label64 + L".com", L"", false},
        {L"", L"", false},
        {L"   ", L"", false},
        {L"[*.]", L"", false},
        {L"*.example.com", L"", false},
        {L"[*]example.com", L"", false},
        {L"[*.].example.com", L"", false},
        {L"[*.][*.]example.com", L"", false},
        {L"example..com", L"", false},
        {L".example.com", L"", false},
        {L"example.com.", L"", false},
        {L"https://example.com", L"", false},
        {L"example.com/path", L"", false},
        {L"example.com:8080", L"", false},
        {L"exa mple.com", L"", false},
        {L"b\u00FCcher.example", L"", false},  // the browser gives such a name as xn--bcher-kva.example
        {L"xn--bcher-kva.example", L"xn--bcher-kva.example", false},
        {L"[::1]", L"", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.text));
        PolicyEntry entry = {};
        bool taken = ParsePolicyEntry(row.text.c_str(), &entry);
        ASSERT_EQ(taken, !row.host.empty());
        if (taken) {
            EXPECT_EQ(std::wstring(entry.host), row.host);
            EXPECT_EQ(entry.withSubdomains, row.withSubdomains);
            free(entry.host);
        }
    }
}

TEST_F(SitePolicyTest, ASiteMatchesItsHostExactlyOrAPatternOfADomainItIsIn)
{
    const struct {
        const wchar_t* entry;
        const wchar_t* site;
        bool matches;
    } rows[] = {
        {L"example.com", L"example.com", true},
        {L"example.com", L"www.example.com", false},
        {L"example.com", L"example.com.", true},  // the same host, written with its final dot
        {L"example.com", L"example.co", false},
        {L"example.com", L"xample.com", false},
        {L"[*.]example.com", L"example.com", true},
        {L"[*.]example.com", L"www.example.com", true},
        {L"[*.]example.com", L"a.b.example.com", true},
        {L"[*.]example.com", L"a.b.example.com.", true},
        {L"[*.]example.com", L"badexample.com", false},  // another domain that ends in the same letters
        {L"[*.]example.com", L".example.com", true},  // no host name, but nothing to slip past a block either
        {L"[*.]example.com", L"example.com.evil.org", false},
        {L"[*.]example.com", L"", false},
        {L"[*.]com", L"example.com", true},
        {L"www.example.com", L"WWW.Example.COM", true},
        {L"example.com", L"example.com..", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.entry) + " / " + Narrow(row.site));
        Set({row.entry}, {});
        ASSERT_EQ(policy.allowed.count, 1u);
        EXPECT_EQ(PolicyMatch(policy.allowed.entries[0], row.site) != 0, row.matches);
        EXPECT_EQ(JudgeSite(&policy, row.site), row.matches ? PolicyAllows : PolicySilent);
    }
}

// When both lists match, the entry that says more about the site wins; a tie blocks.
TEST_F(SitePolicyTest, TheMoreSpecificEntryWinsAndBlockWinsATie)
{
    const struct {
        std::vector<const wchar_t*> allowed, blocked;
        const wchar_t* site;
        PolicyVerdict verdict;
    } rows[] = {
        {{L"[*.]example.com"}, {L"ads.example.com"}, L"ads.example.com", PolicyBlocks},
        {{L"[*.]example.com"}, {L"ads.example.com"}, L"www.example.com", PolicyAllows},
        {{L"call.example.com"}, {L"[*.]example.com"}, L"call.example.com", PolicyAllows},
        {{L"call.example.com"}, {L"[*.]example.com"}, L"x.call.example.com", PolicyBlocks},
        {{L"[*.]call.example.com"}, {L"[*.]example.com"}, L"x.call.example.com", PolicyAllows},
        {{L"example.com"}, {L"[*.]example.com"}, L"example.com", PolicyAllows},  // the exact host says more
        {{L"[*.]example.com"}, {L"example.com"}, L"example.com", PolicyBlocks},
        {{L"example.com"}, {L"example.com"}, L"example.com", PolicyBlocks},  // a tie
        {{L"[*.]example.com"}, {L"[*.]example.com"}, L"www.example.com", PolicyBlocks},
        {{L"[*.]EXAMPLE.com"}, {L"[*.]example.COM"}, L"www.example.com", PolicyBlocks},
        {{L"[*.]com", L"example.com"}, {L"[*.]example.com"}, L"example.com", PolicyAllows},
        {{L"[*.]com"}, {L"[*.]example.com"}, L"example.com", PolicyBlocks},
        {{L"not a host", L"example.com"}, {L"also not one"}, L"example.com", PolicyAllows},
        {{L"example.org"}, {L"example.net"}, L"example.com", PolicySilent},
        {{}, {}, L"example.com", PolicySilent},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(Narrow(row.site));
        Set(row.allowed, row.blocked);
        EXPECT_EQ(JudgeSite(&policy, row.site), row.verdict);
    }
}

// Blocked by policy, allowed by policy, the user's own decision, the default.
TEST_F(SitePolicyTest, PolicyComesBeforeTheUsersOwnDecisionAndTheDefaultAfterIt)
{
    const int32_t none = NoDecision, allow = DecisionAllow, deny = DecisionDeny;
    const struct {
        const char* name;
        std::vector<const wchar_t*> allowed, blocked;
        bool neverAsk;
        int32_t user;
        SiteRoad road;
    } rows[] = {
        {"no policy, nothing stored: asked", {}, {}, false, none, RoadAsk},
        {"no policy, the user's Allow", {}, {}, false, allow, RoadKeepByUser},
        {"no policy, the user's Deny", {}, {}, false, deny, RoadDeclineByUser},
        {"no policy, another stored value", {}, {}, false, 5, RoadDeclineByUser},
        {"allowed by policy, nothing stored", {L"example.com"}, {}, false, none, RoadKeepByPolicy},
        {"allowed by policy over the user's Deny", {L"example.com"}, {}, false, deny, RoadKeepByPolicy},
        {"blocked by policy over the user's Allow", {}, {L"example.com"}, false, allow, RoadDeclineByPolicy},
        {"blocked over allowed", {L"example.com"}, {L"example.com"}, false, allow, RoadDeclineByPolicy},
        {"never ask, nothing stored", {}, {}, true, none, RoadDeclineByPolicy},
        {"never ask, the user's Allow", {}, {}, true, allow, RoadKeepByUser},
        {"never ask, the user's Deny", {}, {}, true, deny, RoadDeclineByUser},
        {"never ask, allowed by policy", {L"[*.]example.com"}, {}, true, none, RoadKeepByPolicy},
        {"never ask, another site allowed", {L"example.org"}, {}, true, none, RoadDeclineByPolicy},
        {"another site blocked: the user decides", {}, {L"example.org"}, false, allow, RoadKeepByUser},
        {"only bad entries: as if none", {L"exa mple.com"}, {L"*.example.com"}, false, none, RoadAsk},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        Set(row.allowed, row.blocked, row.neverAsk);
        EXPECT_EQ(ChooseRoad(&policy, L"example.com", row.user), row.road);
    }
}

// One root's key as a test writes it: its lists (absent, or values; valid or
// not) and its default (absent, or a value).
struct FakeRoot {
    std::map<std::wstring, std::vector<std::wstring>> lists;
    bool hasDefault = false;
    uint32_t defaultValue = 0;
};

bool ReadFakeList(void* context, const wchar_t* listName, PolicyList* into)
{
    const FakeRoot* root = static_cast<const FakeRoot*>(context);
    auto found = root->lists.find(listName);
    if (found == root->lists.end() || found->second.empty())
        return false;
    for (const std::wstring& entry : found->second)
        AddPolicyEntry(into, entry.c_str());
    return true;
}

bool ReadFakeDefault(void* context, uint32_t* value)
{
    const FakeRoot* root = static_cast<const FakeRoot*>(context);
    if (root->hasDefault)
        *value = root->defaultValue;
    return root->hasDefault;
}

std::wstring Hosts(const PolicyList& list)
{
    std::wstring hosts;
    for (uint32_t i = 0; i < list.count; ++i)
        hosts += (hosts.empty() ? L"" : L" ") + std::wstring(list.entries[i].withSubdomains ? L"[*.]" : L"") +
                 list.entries[i].host;
    return hosts;
}

// Each list and the default: the machine's when it holds one, the user's otherwise.
TEST_F(SitePolicyTest, TheMachinesValuesWinOverTheUsersValueByValue)
{
    const std::wstring allowed = POLICY_ALLOWED_SITES, blocked = POLICY_BLOCKED_SITES;
    const struct {
        const char* name;
        FakeRoot machine, user;
        const wchar_t* allowed;
        const wchar_t* blocked;
        bool neverAsk;
    } rows[] = {
        {"neither", {}, {}, L"", L"", false},
        {"the user's alone", {}, {{{allowed, {L"a.com"}}, {blocked, {L"b.com"}}}, true, 2}, L"a.com", L"b.com", true},
        {"the machine's alone", {{{allowed, {L"a.com", L"[*.]c.com"}}}, true, 2}, {}, L"a.com [*.]c.com", L"", true},
        {"both lists from the machine, not merged",
         {{{allowed, {L"m.com"}}, {blocked, {L"n.com"}}}}, {{{allowed, {L"u.com"}}, {blocked, {L"v.com"}}}},
         L"m.com", L"n.com", false},
        {"value by value: the machine's allowed list, the user's blocked list and default",
         {{{allowed, {L"m.com"}}}}, {{{allowed, {L"u.com"}}, {blocked, {L"v.com"}}}, true, 2},
         L"m.com", L"v.com", true},
        {"the machine's default asks, the user's never asks", {{}, true, 3}, {{}, true, 2}, L"", L"", false},
        {"the machine's default is unknown: it asks, and still wins", {{}, true, 7}, {{}, true, 2}, L"", L"", false},
        {"the machine's list holds only bad entries: it still wins",
         {{{allowed, {L"not a host"}}}}, {{{allowed, {L"u.com"}}}}, L"", L"", false},
        {"the machine's subkey with no values: the user's list",
         {{{allowed, {}}}}, {{{allowed, {L"u.com"}}}}, L"u.com", L"", false},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.name);
        FakeRoot machine = row.machine, user = row.user;
        BuildPolicy({&machine, ReadFakeList, ReadFakeDefault}, {&user, ReadFakeList, ReadFakeDefault}, &policy);
        EXPECT_EQ(Hosts(policy.allowed), row.allowed);
        EXPECT_EQ(Hosts(policy.blocked), row.blocked);
        EXPECT_EQ(policy.neverAsk, row.neverAsk);
    }
}

}  // namespace
