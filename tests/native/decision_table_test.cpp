// The in-memory table of site decisions: the case rule of its look-ups, the
// values it keeps and the slots the store fills. Its slots, identities and
// ownership under adds, updates, removals and renames are checked against a
// model by the fuzz target fuzz_decision_table, which every test run runs.
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
