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

TEST_F(DecisionTable, EmptyTableFindsNothingAndFirstAddMakesOneSlot)
{
    EXPECT_EQ(SiteDecisions.slotCount, 0u);
    EXPECT_EQ(FindDecision(L"site1"), NoDecision);
    EXPECT_EQ(FindDecision(L""), NoDecision);

    SiteDecision* entry = Add(L"site1", DecisionAllow);
    ASSERT_EQ(SiteDecisions.slotCount, 1u);
    EXPECT_EQ(SiteDecisions.slots[0], entry);
    EXPECT_EQ(FindDecision(L"site1"), DecisionAllow);
}

TEST_F(DecisionTable, FindComparesWithoutAsciiCase)
{
    Add(L"AlphaSite", DecisionAllow);
    Add(L"betasite", DecisionDeny);
    EXPECT_EQ(FindDecision(L"ALPHAsite"), DecisionAllow);
    EXPECT_EQ(FindDecision(L"alphasite"), DecisionAllow);
    EXPECT_EQ(FindDecision(L"betasite"), DecisionDeny);
    EXPECT_EQ(FindDecision(L"gammasite"), NoDecision);
    // Whole strings only.
    EXPECT_EQ(FindDecision(L"alpha"), NoDecision);
    EXPECT_EQ(FindDecision(L"alphasite."), NoDecision);
}

TEST_F(DecisionTable, StoredValuesComeBackUnvalidated)
{
    Add(L"five", 5);
    Add(L"minusone", -1);
    Add(L"big", INT32_MIN);
    EXPECT_EQ(FindDecision(L"five"), 5);
    EXPECT_EQ(FindDecision(L"minusone"), NoDecision);  // reads as "ask again", like no entry at all
    EXPECT_EQ(FindDecision(L"big"), INT32_MIN);
}

TEST_F(DecisionTable, FindPassesOverEmptySlotsAndReturnsTheFirstMatch)
{
    SiteDecision* first = Add(L"same", DecisionAllow);
    Add(L"other", DecisionAllow);
    Add(L"same", DecisionDeny);
    EXPECT_EQ(FindDecision(L"same"), DecisionAllow);
    RemoveDecision(first);
    EXPECT_EQ(FindDecision(L"same"), DecisionDeny);
    EXPECT_EQ(FindDecision(L"other"), DecisionAllow);
}

TEST_F(DecisionTable, UnnamedEntryAnswersForTheEmptySite)
{
    // The Preferences Add button makes an entry with an empty domain; a request
    // with an empty site ("fr" and two spaces) then finds it.
    Add(L"", DecisionDeny);
    EXPECT_EQ(FindDecision(L""), DecisionDeny);
    EXPECT_EQ(FindDecision(L"a"), NoDecision);
}

TEST_F(DecisionTable, AddLowerCasesTheCallersStringAndKeepsIt)
{
    wchar_t* domain = DuplicateText(L"AlphaSite", 9);
    SiteDecision* entry = AddDecision(domain, DecisionAllow);
    EXPECT_EQ(entry->domain, domain);  // ownership handed over, no copy
    EXPECT_STREQ(domain, L"alphasite");
    EXPECT_EQ(entry->decision, DecisionAllow);
}

TEST_F(DecisionTable, AddFillsTheLowestEmptySlotBeforeGrowing)
{
    SiteDecision* a = Add(L"a", 1);
    SiteDecision* b = Add(L"b", 1);
    SiteDecision* c = Add(L"c", 1);
    RemoveDecision(b);
    ASSERT_EQ(Slots(), (std::vector<SiteDecision*>{a, nullptr, c}));

    SiteDecision* d = Add(L"d", 0);
    EXPECT_EQ(Slots(), (std::vector<SiteDecision*>{a, d, c}));

    RemoveDecision(c);
    RemoveDecision(a);
    SiteDecision* e = Add(L"e", 0);
    SiteDecision* f = Add(L"f", 0);
    EXPECT_EQ(Slots(), (std::vector<SiteDecision*>{e, d, f}));

    SiteDecision* g = Add(L"g", 0);
    EXPECT_EQ(Slots(), (std::vector<SiteDecision*>{e, d, f, g}));

    // A later removal above an earlier one must not hide the lower slot.
    RemoveDecision(d);
    RemoveDecision(f);
    SiteDecision* h = Add(L"h", 0);
    EXPECT_EQ(Slots(), (std::vector<SiteDecision*>{e, h, nullptr, g}));
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

TEST_F(DecisionTable, AddingAKnownSiteGivesASecondEntry)
{
    SiteDecision* first = Add(L"site1", DecisionAllow);
    SiteDecision* second = Add(L"SITE1", DecisionDeny);
    EXPECT_NE(first, second);
    EXPECT_EQ(SiteDecisions.slotCount, 2u);
    EXPECT_STREQ(second->domain, L"site1");
}

TEST_F(DecisionTable, UpdateChangesOnlyTheFirstMatchAndAddsNothing)
{
    SiteDecision* empty = Add(L"gone", 1);
    SiteDecision* low = Add(L"alphasite", DecisionAllow);
    SiteDecision* high = Add(L"alphasite", DecisionAllow);
    RemoveDecision(empty);  // slot 0 empty: the scan must pass over it

    EXPECT_EQ(Update(L"ALPHASITE", DecisionDeny), low);
    EXPECT_EQ(low->decision, DecisionDeny);
    EXPECT_EQ(high->decision, DecisionAllow);

    EXPECT_EQ(Update(L"nosuchsite", DecisionDeny), nullptr);
    EXPECT_EQ(Update(L"alphasit", DecisionDeny), nullptr);
    EXPECT_EQ(Slots(), (std::vector<SiteDecision*>{nullptr, low, high}));
    EXPECT_EQ(FindDecision(L"nosuchsite"), NoDecision);
}

TEST_F(DecisionTable, UpdateLowerCasesTheCallersString)
{
    Add(L"site1", DecisionDeny);
    std::wstring text = L"SiTe1";
    UpdateDecision(text.data(), DecisionAllow);
    EXPECT_EQ(text, L"site1");
    std::wstring missing = L"MISSING";
    UpdateDecision(missing.data(), DecisionAllow);
    EXPECT_EQ(missing, L"missing");
}

TEST_F(DecisionTable, RemovingTheOnlyEntryLeavesAnEmptySlotForTheNextAdd)
{
    SiteDecision* only = Add(L"site1", DecisionAllow);
    RemoveDecision(only);
    EXPECT_EQ(SiteDecisions.slotCount, 1u);
    EXPECT_EQ(SiteDecisions.slots[0], nullptr);
    EXPECT_EQ(FindDecision(L"site1"), NoDecision);

    SiteDecision* next = Add(L"site2", DecisionDeny);
    EXPECT_EQ(SiteDecisions.slotCount, 1u);
    EXPECT_EQ(SiteDecisions.slots[0], next);
}

TEST_F(DecisionTable, RemoveGoesByIdentityNotByDomain)
{
    SiteDecision* first = Add(L"same", DecisionAllow);
    SiteDecision* second = Add(L"same", DecisionDeny);
    RemoveDecision(second);
    EXPECT_EQ(Slots(), (std::vector<SiteDecision*>{first, nullptr}));
    EXPECT_EQ(FindDecision(L"same"), DecisionAllow);
}

TEST_F(DecisionTable, RemovingAnEntryNotInTheTableChangesNothing)
{
    SiteDecision* kept = Add(L"site1", DecisionAllow);
    // Same domain, different identity. Were it released, ASan would report a
    // free of stack memory.
    wchar_t domain[] = L"site1";
    SiteDecision stranger = {domain, DecisionAllow};
    RemoveDecision(&stranger);
    EXPECT_EQ(Slots(), (std::vector<SiteDecision*>{kept}));
    EXPECT_STREQ(kept->domain, L"site1");
    EXPECT_STREQ(stranger.domain, L"site1");
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
    EXPECT_EQ(Slots(), (std::vector<SiteDecision*>{entry, other}));
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
    EXPECT_EQ(SiteDecisions.slotCount, 3u);
    EXPECT_EQ(SiteDecisions.slots[0], nullptr);
    EXPECT_EQ(SiteDecisions.slots[1], nullptr);
    EXPECT_EQ(FindDecision(L"late"), DecisionAllow);

    SiteDecision* added = Add(L"new", DecisionDeny);
    EXPECT_EQ(SiteDecisions.slots[0], added);
    EXPECT_EQ(SiteDecisions.slotCount, 3u);
}

TEST_F(DecisionTable, DomainsThatDifferOnlyInANonAsciiLetterAreDifferent)
{
    Add(L"\u00C4BCsite", DecisionAllow);
    EXPECT_STREQ(SiteDecisions.slots[0]->domain, L"\u00C4bcsite");
    EXPECT_EQ(FindDecision(L"\u00C4bcsite"), DecisionAllow);
    EXPECT_EQ(FindDecision(L"\u00C4BCSITE"), DecisionAllow);
    EXPECT_EQ(FindDecision(L"\u00E4bcsite"), NoDecision);
    EXPECT_EQ(Update(L"\u00E4bcsite", DecisionDeny), nullptr);
}

}  // namespace
