// The in-memory table of site decisions: slots, identities, the case rule.
#include "decisions/decision_table.h"
#include "text/text.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <cwchar>
#include <string>
#include <vector>

namespace {

// Every test starts and ends with an empty table, so LeakSanitizer sees every
// entry released and no test sees another's entries.
class DecisionTable : public testing::Test {
protected:
    void SetUp() override { ClearDecisionTable(); }
    void TearDown() override { ClearDecisionTable(); }

    // The table takes ownership of a heap string, as the flow and the dialogs give it.
    static SiteDecision* Add(const wchar_t* domain, int32_t decision)
    {
        return AddDecision(DuplicateText(domain, static_cast<uint32_t>(std::wcslen(domain))), decision);
    }

    static SiteDecision* Update(const wchar_t* domain, int32_t decision)
    {
        std::wstring copy = domain;
        return UpdateDecision(copy.data(), decision);
    }

    static std::vector<SiteDecision*> Slots()
    {
        return std::vector<SiteDecision*>(SiteDecisions.slots, SiteDecisions.slots + SiteDecisions.slotCount);
    }
};

using Table = std::vector<SiteDecision*>;

// Look-ups compare whole strings without ASCII case; stored values come back unvalidated.
TEST_F(DecisionTable, FindGivesTheFirstMatchOfTheWholeDomainIgnoringAsciiCase)
{
    EXPECT_EQ(Slots(), Table{});
    EXPECT_EQ(FindDecision(L"site1"), NoDecision);
    EXPECT_EQ(FindDecision(L""), NoDecision);
    SiteDecision* first = Add(L"AlphaSite", DecisionAllow);
    Add(L"betasite", DecisionDeny);
    Add(L"alphasite", DecisionDeny);
    Add(L"five", 5);
    Add(L"minusone", -1);
    Add(L"big", INT32_MIN);
    // The Preferences Add button makes an entry with an empty domain; a request
    // with an empty site ("fr" and two spaces) then finds it.
    Add(L"", DecisionDeny);
    Add(L"\u00C4BCsite", DecisionAllow);
    const struct {
        const wchar_t* domain;
        int32_t decision;
    } rows[] = {
        {L"ALPHAsite", DecisionAllow}, {L"alphasite", DecisionAllow}, {L"betasite", DecisionDeny},
        {L"gammasite", NoDecision},    {L"alpha", NoDecision},        {L"alphasite.", NoDecision},
        {L"five", 5},                  {L"minusone", NoDecision},  // reads as "ask again", like no entry at all
        {L"big", INT32_MIN},           {L"", DecisionDeny},           {L"a", NoDecision},
        {L"\u00C4bcsite", DecisionAllow}, {L"\u00C4BCSITE", DecisionAllow}, {L"\u00E4bcsite", NoDecision},
    };
    for (const auto& row : rows)
        EXPECT_EQ(FindDecision(row.domain), row.decision) << testing::PrintToString(std::wstring(row.domain));
    // Past an emptied slot to the next match.
    RemoveDecision(first);
    EXPECT_EQ(FindDecision(L"alphasite"), DecisionDeny);
    EXPECT_EQ(FindDecision(L"betasite"), DecisionDeny);
}

TEST_F(DecisionTable, AddLowerCasesAndKeepsTheCallersStringEvenForAKnownSite)
{
    wchar_t* domain = DuplicateText(L"AlphaSite", 9);
    SiteDecision* entry = AddDecision(domain, DecisionAllow);
    EXPECT_EQ(entry->domain, domain);  // ownership handed over, no copy
    EXPECT_STREQ(domain, L"alphasite");
    EXPECT_EQ(entry->decision, DecisionAllow);
    SiteDecision* second = Add(L"ALPHASITE", DecisionDeny);
    EXPECT_EQ(Slots(), (Table{entry, second}));
    EXPECT_STREQ(second->domain, L"alphasite");
    Add(L"\u00C4BCsite", DecisionAllow);
    EXPECT_STREQ(SiteDecisions.slots[2]->domain, L"\u00C4bcsite");
}

TEST_F(DecisionTable, AddFillsTheLowestEmptySlotBeforeGrowing)
{
    SiteDecision* a = Add(L"a", 1);
    RemoveDecision(a);
    EXPECT_EQ(Slots(), (Table{nullptr}));
    EXPECT_EQ(FindDecision(L"a"), NoDecision);
    a = Add(L"a", 1);
    SiteDecision* b = Add(L"b", 1);
    SiteDecision* c = Add(L"c", 1);
    RemoveDecision(b);
    ASSERT_EQ(Slots(), (Table{a, nullptr, c}));

    SiteDecision* d = Add(L"d", 0);
    EXPECT_EQ(Slots(), (Table{a, d, c}));

    RemoveDecision(c);
    RemoveDecision(a);
    SiteDecision* e = Add(L"e", 0);
    SiteDecision* f = Add(L"f", 0);
    EXPECT_EQ(Slots(), (Table{e, d, f}));

    SiteDecision* g = Add(L"g", 0);
    EXPECT_EQ(Slots(), (Table{e, d, f, g}));

    // A later removal above an earlier one must not hide the lower slot.
    RemoveDecision(d);
    RemoveDecision(f);
    SiteDecision* h = Add(L"h", 0);
    EXPECT_EQ(Slots(), (Table{e, h, nullptr, g}));
}

TEST_F(DecisionTable, GrowingKeepsEveryEntryWhereItIs)
{
    // The Preferences list holds entries by address; growth may move the slot
    // array but never an entry.
    std::vector<SiteDecision*> added;
    std::vector<std::wstring> names;
    for (int i = 0; i < 1000; ++i) {
        names.push_back(L"site" + std::to_wstring(i));
        added.push_back(Add(names.back().c_str(), i));
        ASSERT_EQ(SiteDecisions.slotCount, uint32_t(i + 1));  // exactly one slot at a time
    }
    EXPECT_EQ(Slots(), added);
    for (int i = 0; i < 1000; ++i) {
        EXPECT_EQ(added[i]->domain, names[i]);
        EXPECT_EQ(added[i]->decision, i);
    }
}

TEST_F(DecisionTable, UpdateChangesOnlyTheFirstMatchLowerCasesItsArgumentAndAddsNothing)
{
    SiteDecision* empty = Add(L"gone", 1);
    SiteDecision* low = Add(L"alphasite", DecisionAllow);
    SiteDecision* high = Add(L"alphasite", DecisionAllow);
    Add(L"\u00C4bcsite", DecisionAllow);
    RemoveDecision(empty);  // slot 0 empty: the scan must pass over it

    std::wstring text = L"ALPHASITE";
    EXPECT_EQ(UpdateDecision(text.data(), DecisionDeny), low);
    EXPECT_EQ(text, L"alphasite");
    EXPECT_EQ(low->decision, DecisionDeny);
    EXPECT_EQ(high->decision, DecisionAllow);

    std::wstring missing = L"NoSuchSite";
    EXPECT_EQ(UpdateDecision(missing.data(), DecisionDeny), nullptr);
    EXPECT_EQ(missing, L"nosuchsite");
    EXPECT_EQ(Update(L"alphasit", DecisionDeny), nullptr);
    EXPECT_EQ(Update(L"\u00E4bcsite", DecisionDeny), nullptr);
    EXPECT_EQ(SiteDecisions.slotCount, 4u);
    EXPECT_EQ(FindDecision(L"nosuchsite"), NoDecision);
}

TEST_F(DecisionTable, RemoveGoesByIdentityNotByDomain)
{
    SiteDecision* first = Add(L"same", DecisionAllow);
    SiteDecision* second = Add(L"same", DecisionDeny);
    RemoveDecision(second);
    EXPECT_EQ(Slots(), (Table{first, nullptr}));
    EXPECT_EQ(FindDecision(L"same"), DecisionAllow);

    // Same domain, different identity: nothing changes. Were it released, ASan
    // would report a free of stack memory.
    wchar_t domain[] = L"same";
    SiteDecision stranger = {domain, DecisionAllow};
    RemoveDecision(&stranger);
    EXPECT_EQ(Slots(), (Table{first, nullptr}));
    EXPECT_STREQ(first->domain, L"same");
    EXPECT_STREQ(stranger.domain, L"same");
}

TEST_F(DecisionTable, RenameReplacesTheDomainWithALowerCasedCopy)
{
    SiteDecision* entry = Add(L"", DecisionDeny);
    SiteDecision* other = Add(L"other", DecisionAllow);
    const wchar_t* edited = L"NewSite.Example-and-more";
    RenameDecision(entry, edited, 15);  // only the first 15 characters

    EXPECT_STREQ(entry->domain, L"newsite.example");
    EXPECT_NE(entry->domain, edited);
    EXPECT_STREQ(edited, L"NewSite.Example-and-more");  // the caller's text is left alone
    EXPECT_EQ(entry->decision, DecisionDeny);
    EXPECT_EQ(Slots(), (Table{entry, other}));
    EXPECT_EQ(FindDecision(L"newsite.example"), DecisionDeny);
    EXPECT_EQ(FindDecision(L""), NoDecision);

    // Renaming again releases the previous copy (LeakSanitizer would report it).
    RenameDecision(entry, L"third", 5);
    EXPECT_STREQ(entry->domain, L"third");
    EXPECT_EQ(FindDecision(L"newsite.example"), NoDecision);
}

TEST_F(DecisionTable, LoadedSlotsAreFilledWhereTheStorePutsThem)
{
    // The registry store makes one slot per value and leaves skipped ones empty.
    // The table it replaces had its first two slots full.
    Add(L"old1", DecisionAllow);
    Add(L"old2", DecisionAllow);
    ResetDecisionTable(3);
    PutDecisionInSlot(2, DuplicateText(L"late", 4), DecisionAllow);
    SiteDecision* late = SiteDecisions.slots[2];
    EXPECT_EQ(Slots(), (Table{nullptr, nullptr, late}));
    EXPECT_EQ(FindDecision(L"late"), DecisionAllow);
    SiteDecision* added = Add(L"new", DecisionDeny);
    EXPECT_EQ(Slots(), (Table{added, nullptr, late}));
}

}  // namespace
