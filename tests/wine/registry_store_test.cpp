// LoadDecisions and SaveDecisions against Wine's real registry, in this process.
// The decision key is deleted around every test; the failure tests swap the
// store's registry calls for wrappers that fail on purpose.
#include "decisions/decision_table.h"
#include "text/text.h"
#include "decisions/registry_store.h"
#include "driver.h"

#include <gtest/gtest.h>

#include <wchar.h>

#include <algorithm>
#include <array>
#include <map>
#include <set>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

namespace {

using Contents = driver::KeyContents;  // the key's values by their names as stored
using driver::Dword;  // a decision as the store writes it

std::wstring FoldAscii(std::wstring text)
{
    std::transform(text.begin(), text.end(), text.begin(), FoldAsciiCase);
    return text;
}

// The key's values by their names lower-cased as the registry matches them, since
// it may keep a name's case as first written. Two names that match both show.
Contents Folded(const Contents& contents)
{
    Contents folded;
    for (const auto& [name, value] : contents) {
        std::wstring lower = name;
        CharLowerBuffW(&lower[0], static_cast<DWORD>(lower.size()));
        if (!folded.emplace(lower, value).second)
            folded[L"twice: " + lower] = value;
    }
    return folded;
}

void Store(const Contents& contents)
{
    driver::DeleteDecisionsKey();
    ClearDecisionTable();
    for (const auto& [name, value] : contents)
        driver::WriteRaw(name, value.type, value.data);
}

// The table takes ownership of the domains it is given: a heap copy.
wchar_t* Copy(const std::wstring& domain)
{
    return DuplicateText(domain.c_str(), static_cast<uint32_t>(domain.size()));
}

using Entry = std::pair<std::wstring, int32_t>;  // a domain and its decision

std::multiset<Entry> TableEntries()  // empty slots left out
{
    std::multiset<Entry> entries;
    for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i)
        if (SiteDecisions.slots[i])
            entries.insert({SiteDecisions.slots[i]->domain, SiteDecisions.slots[i]->decision});
    return entries;
}

const std::wstring kName254(254, L'n'), kName255(255, L'o'), kName300(300, L'p');

RegistryCalls realCalls;

class RegistryStore : public testing::Test {
protected:
    void SetUp() override
    {
        realCalls = Registry;
        TearDown();
    }
    void TearDown() override
    {
        Registry = realCalls;
        ClearDecisionTable();
        driver::DeleteDecisionsKey();
    }
};

// Slot i stands for value i: a value that is no decision keeps its slot empty, and
// the next save removes it.
TEST_F(RegistryStore, ValuesLoadAsEntriesOrEmptySlotsAndSaveBackAsLoaded)
{
    const struct {
        const char* what;
        Contents stored;
        std::multiset<Entry> loaded;
        std::vector<Entry> found;
    } rows[] = {
        {"no key", {}, {}, {{L"alphasite", NoDecision}}},
        {"names, lower-cased in ASCII letters only",
         {{L"AlphaSite", Dword(1)}, {L"betasite", Dword(0)}, {L"\u00C4BCsite", Dword(1)}},
         {{L"alphasite", 1}, {L"betasite", 0}, {L"\u00C4bcsite", 1}},
         {{L"ALPHAsite", DecisionAllow}, {L"BetaSite", DecisionDeny}, {L"\u00C4bcsite", DecisionAllow},
          {L"\u00E4bcsite", NoDecision},  // Ä and ä are different domains
          {L"gammasite", NoDecision}}},
        {"any four bytes, whatever their type",
         {{L"binarysite", {REG_BINARY, {5, 0, 0, 0}}}, {L"allbits", Dword(0xFFFFFFFF)}},
         {{L"binarysite", 5}, {L"allbits", -1}},
         {{L"binarysite", 5}, {L"allbits", NoDecision}}},  // a stored -1 cannot be told from no entry
        {"values that are no decision",
         {{L"keptsite", Dword(1)}, {L"eightbytes", {REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0}}},
          {L"twobytes", {REG_BINARY, {1, 0}}}, {L"nobytes", {REG_BINARY, {}}},
          {L"", Dword(1)},  // the key's default value, four bytes and all
          {kName300, Dword(1)}, {kName255, Dword(0)}, {kName254, Dword(0)}},
         {{L"keptsite", 1}, {kName254, 0}},  // 254 characters is the longest name that loads
         {{L"keptsite", DecisionAllow}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Store(row.stored);
        ASSERT_EQ(driver::ReadDecisionsKey().size(), row.stored.size());
        LoadDecisions();
        EXPECT_EQ(driver::DecisionsKeyExists(), !row.stored.empty()) << "loading must never create the key";
        EXPECT_EQ(SiteDecisions.slotCount, row.stored.size());
        EXPECT_EQ(TableEntries(), row.loaded);
        for (const auto& [domain, decision] : row.found)
            EXPECT_EQ(FindDecision(domain.c_str()), decision) << testing::PrintToString(domain);

        SaveDecisions();
        Contents saved;
        for (const Entry& entry : row.loaded)
            saved[entry.first] = Dword(entry.second);
        EXPECT_EQ(Folded(driver::ReadDecisionsKey()), Folded(saved));
    }
}

// Each save writes every named entry, lower-cased in ASCII letters (in the table
// too, which it leaves as it is otherwise), the later of two entries for one
// domain last, and deletes every other value of the key, but not its subkeys.
TEST_F(RegistryStore, SaveWritesTheTableAndRemovesEveryOtherValue)
{
    const std::wstring nested = std::wstring(driver::kDecisionsKey) + L"\\Nested";
    const struct {
        const char* what;
        Contents stored;
        std::vector<std::pair<const wchar_t*, int32_t>> slots;  // null: an empty slot
        Contents saved;
    } rows[] = {
        {"an empty table, no key", {}, {}, {}},
        {"decisions of every kind, in any case, one domain twice, one not named yet",
         {},
         {{L"alphasite", 1}, {L"MixedSite", 0}, {L"oddsite", 7}, {nullptr, 0}, {L"AlphaSite", 0}, {L"", 1},
          {kName254.c_str(), 1}, {kName300.c_str(), 1}},  // too long to load, still written
         {{L"alphasite", Dword(0)}, {L"mixedsite", Dword(0)}, {L"oddsite", Dword(7)}, {kName254, Dword(1)},
          {kName300, Dword(1)}}},
        {"stale values, the default value, junk and an empty slot",
         {{L"oldsite", Dword(1)}, {L"", Dword(1)}, {L"junk", {REG_SZ, {'x', 0, 0, 0}}}},
         {{nullptr, 0}},
         {}},
        // Writing a site overwrites its value stored under another case (not only ASCII
        // case), so the clean-up must match names that way too or it deletes what it has
        // just written. The non-ASCII ones: stored capitals renamed to small letters.
        {"values stored under another case",
         {{L"AlphaSite", Dword(0)}, {L"\u00C4BCSITE", Dword(1)}, {L"\u03A9MEGA.GR", Dword(1)},
          {L"\u0416\u0423\u041A.RU", Dword(1)}},
         {{L"alphasite", 1}, {L"\u00E4bcsite", 0}, {L"\u03C9mega.gr", 0}, {L"\u0436\u0443\u043A.ru", 0}},
         {{L"alphasite", Dword(1)}, {L"\u00E4bcsite", Dword(0)}, {L"\u03C9mega.gr", Dword(0)},
          {L"\u0436\u0443\u043A.ru", Dword(0)}}},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.what);
        Store(row.stored);
        DWORD one = 1, inner = 0, size = 4;
        if (!row.stored.empty())
            ASSERT_EQ(RegSetKeyValueW(HKEY_CURRENT_USER, nested.c_str(), L"inner", REG_DWORD, &one, 4), ERROR_SUCCESS);
        ResetDecisionTable(static_cast<uint32_t>(row.slots.size()));
        for (size_t i = 0; i < row.slots.size(); ++i)
            if (const wchar_t* domain = row.slots[i].first)
                PutDecisionInSlot(i, Copy(domain), row.slots[i].second);
        std::multiset<Entry> table;
        for (const Entry& entry : TableEntries())
            table.insert({FoldAscii(entry.first), entry.second});

        SaveDecisions();
        EXPECT_EQ(TableEntries(), table);
        EXPECT_TRUE(driver::DecisionsKeyExists());
        Contents key = driver::ReadDecisionsKey();
        if (row.stored.empty()) {
            EXPECT_EQ(key, row.saved);
            continue;
        }
        EXPECT_EQ(Folded(key), Folded(row.saved));
        EXPECT_EQ(RegGetValueW(HKEY_CURRENT_USER, nested.c_str(), L"inner", RRF_RT_REG_DWORD, nullptr, &inner, &size),
                  ERROR_SUCCESS);
        EXPECT_EQ(inner, 1u) << "a subkey is left alone";
    }
}

TEST_F(RegistryStore, AHundredThousandSitesMakeTheRoundTrip)
{
    const uint32_t kSites = 100000;
    ResetDecisionTable(kSites);
    for (uint32_t i = 0; i < kSites; ++i)
        PutDecisionInSlot(i, Copy(L"site" + std::to_wstring(i * 7919u % kSites) + L".example"), int32_t(i % 3));
    std::multiset<Entry> saved = TableEntries();
    SaveDecisions();
    ClearDecisionTable();
    LoadDecisions();
    EXPECT_EQ(SiteDecisions.slotCount, kSites);
    EXPECT_EQ(TableEntries(), saved);
}

enum CallKind { OpenKeyKind, CreateKeyKind, QueryInfoKind, EnumValueKind, QueryValueKind, SetValueKind,
                DeleteValueKind, CloseKeyKind, CallKindCount };

const char* const kCallKindNames[CallKindCount] = {"OpenKeyEx", "CreateKeyEx", "QueryInfoKey", "EnumValue",
                                                   "QueryValueEx", "SetValueEx", "DeleteValue", "CloseKey"};

// Counts the store's registry calls and fails the chosen one (when `persistent`, also
// every later one of its kind), as a registry that turns read-only or full would.
struct Injection {
    std::array<int, CallKindCount> calls;
    CallKind failingKind;
    int failAt;  // 1-based; 0 never fails
    bool persistent;
} injection;

template <CallKind kind, auto call, typename Call = std::decay_t<decltype(RegistryCalls{}.*call)>>
struct Counted;

template <CallKind kind, auto call, typename... Args>
struct Counted<kind, call, LSTATUS(WINAPI*)(Args...)> {
    static LSTATUS WINAPI Call(Args... args)
    {
        int n = ++injection.calls[kind];
        bool fail = kind == injection.failingKind && injection.failAt != 0 &&
                    (injection.persistent ? n >= injection.failAt : n == injection.failAt);
        // A failed close still closes: otherwise the leaked handle would keep the
        // key from being deleted between rounds, which is no part of the store.
        if (fail && kind != CloseKeyKind)
            return ERROR_ACCESS_DENIED;
        LSTATUS status = (realCalls.*call)(args...);
        return fail ? ERROR_ACCESS_DENIED : status;
    }
};

void RunFailing(void (*run)(), CallKind kind, int failAt, bool persistent = false)
{
    injection = {{}, kind, failAt, persistent};
    using R = RegistryCalls;
    Registry = {Counted<OpenKeyKind, &R::OpenKeyEx>::Call,       Counted<CreateKeyKind, &R::CreateKeyEx>::Call,
                Counted<QueryInfoKind, &R::QueryInfoKey>::Call,  Counted<EnumValueKind, &R::EnumValue>::Call,
                Counted<QueryValueKind, &R::QueryValueEx>::Call, Counted<SetValueKind, &R::SetValueEx>::Call,
                Counted<DeleteValueKind, &R::DeleteValue>::Call, Counted<CloseKeyKind, &R::CloseKey>::Call};
    run();
    Registry = realCalls;
}

using FailedLoad = RegistryStore;

TEST_F(FailedLoad, AValueThatCannotBeReadLeavesItsSlotEmpty)
{
    Store({{L"firstsite", Dword(1)}, {L"secondsite", Dword(0)}, {L"thirdsite", Dword(1)}});
    // Slot i stands for the value at enumeration index i.
    for (auto [kind, n] : {std::pair{EnumValueKind, 2}, std::pair{QueryValueKind, 3}}) {
        SCOPED_TRACE(kCallKindNames[kind]);
        RunFailing(LoadDecisions, kind, n);
        ASSERT_EQ(SiteDecisions.slotCount, 3u);
        EXPECT_EQ(SiteDecisions.slots[n - 1], nullptr);
        EXPECT_EQ(TableEntries().size(), 2u);
    }
    ClearDecisionTable();
    RunFailing(LoadDecisions, OpenKeyKind, 1);
    EXPECT_EQ(SiteDecisions.slotCount, 0u) << "a key that cannot be opened leaves the table empty";
}

class FailedSave : public RegistryStore {
protected:
    // What an earlier save left, junk the program never writes, and mixedCaseName:
    // a value another program wrote in capitals, which the save renames to lower case.
    static void PrepareRegistry(const wchar_t* mixedCaseName = L"MixedCase")
    {
        Store({{L"keptallow", Dword(1)}, {L"keptdeny", Dword(0)}, {L"updatedsite", Dword(0)},
               {L"removedsite", Dword(1)}, {L"renamedsite", Dword(1)}, {mixedCaseName, Dword(1)}, {L"", Dword(1)},
               {L"eightbytes", {REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8}}}, {kName300, Dword(0)}});
    }

    static void ChangeTable()  // as a run would by its save: loaded, then changed
    {
        LoadDecisions();
        for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i) {
            SiteDecision* entry = SiteDecisions.slots[i];
            if (entry && wcscmp(entry->domain, L"removedsite") == 0)
                RemoveDecision(entry);
            else if (entry && wcscmp(entry->domain, L"renamedsite") == 0)
                RenameDecision(entry, L"NewName", 7);
            else if (entry && wcscmp(entry->domain, L"updatedsite") == 0)
                entry->decision = DecisionAllow;
            else if (entry && wcscmp(entry->domain, L"mixedcase") == 0)
                entry->decision = DecisionDeny;
        }
        // The last is added in Preferences, not named yet.
        for (const Entry& added :
             {Entry{L"addedallow", DecisionAllow}, {L"addeddeny", DecisionDeny}, {L"", DecisionAllow}})
            AddDecision(Copy(added.first), added.second);
    }

    static Contents FoldedTable()  // what the key holds once a save has gone through
    {
        Contents table;
        for (const Entry& entry : TableEntries())
            if (!entry.first.empty())
                table[FoldAscii(entry.first)] = Dword(entry.second);
        return table;
    }

    // Whatever failed, each decision that was stored and is still in the table
    // is still stored, old or new; nothing else is written, nothing is garbled.
    static void ExpectNothingLost(const Contents& before, const Contents& table)
    {
        Contents after = driver::ReadDecisionsKey(), now;  // now: by folded names
        for (const auto& [name, value] : after)
            now[FoldAscii(name)] = value;
        for (const auto& [name, value] : before) {
            auto inTable = table.find(FoldAscii(name));
            if (inTable == table.end())
                continue;
            auto stored = now.find(FoldAscii(name));
            ASSERT_NE(stored, now.end()) << "decision lost: " << testing::PrintToString(name);
            EXPECT_TRUE(stored->second == value || stored->second == inTable->second)
                << testing::PrintToString(name) << " holds neither its old nor its new decision";
        }
        for (const auto& [name, value] : after) {
            auto old = before.find(name);
            auto inTable = table.find(FoldAscii(name));
            EXPECT_TRUE((old != before.end() && old->second == value) ||
                        (inTable != table.end() && value == inTable->second))
                << "garbled or foreign value " << testing::PrintToString(name);
        }
    }

    void RunEveryFailure(bool persistent, const wchar_t* mixedCaseName = L"MixedCase")
    {
        PrepareRegistry();
        ASSERT_EQ(driver::ReadDecisionsKey().size(), 9u);
        ChangeTable();
        RunFailing(SaveDecisions, CallKindCount, 0);  // counts what a save that goes through calls
        ASSERT_EQ(Folded(driver::ReadDecisionsKey()),
                  (Contents{{L"keptallow", Dword(1)}, {L"keptdeny", Dword(0)}, {L"updatedsite", Dword(1)},
                            {L"mixedcase", Dword(0)}, {L"newname", Dword(1)}, {L"addedallow", Dword(1)},
                            {L"addeddeny", Dword(0)}}))
            << "the set-up makes every kind of change";
        const auto counts = injection.calls;
        ASSERT_GT(counts[CreateKeyKind], 0);
        ASSERT_GT(counts[SetValueKind], 0);
        ASSERT_GT(counts[DeleteValueKind], 0) << "the prepared key holds stale values to delete";

        for (int kind = 0; kind < CallKindCount; ++kind) {
            for (int n = 1; n <= counts[kind]; ++n) {
                SCOPED_TRACE(testing::Message() << kCallKindNames[kind] << " call " << n << " of " << counts[kind]
                                                << (persistent ? " and every later one" : "") << " fails");
                PrepareRegistry(mixedCaseName);
                Contents before = driver::ReadDecisionsKey();
                ChangeTable();
                Contents table = FoldedTable();
                RunFailing(SaveDecisions, static_cast<CallKind>(kind), n, persistent);
                ExpectNothingLost(before, table);
                SaveDecisions();
                EXPECT_EQ(Folded(driver::ReadDecisionsKey()), table);
                if (HasFailure())
                    return;  // one broken round says it all
            }
        }
    }
};

TEST_F(FailedSave, AnySingleFailedCallLosesNoStoredDecision)
{
    RunEveryFailure(false);
}

TEST_F(FailedSave, ACallThatKeepsFailingFromAnyPointLosesNoStoredDecision)
{
    // The registry cannot rename a value: a rename is a delete and a write. A write
    // that fails after such a delete is undone by writing the old name back, but a
    // registry refusing every write from then on leaves nothing to undo with. So here
    // the key holds only what this program writes itself: lower-case names.
    RunEveryFailure(true, L"mixedcase");
}

TEST_F(FailedSave, ANameInCapitalsIsLowerCasedOnlyAfterEveryWriteWentThrough)
{
    const Contents capitals = {{L"MixedCase", Dword(1)}, {L"OtherSite", Dword(0)}};
    Store(capitals);
    LoadDecisions();
    RunFailing(SaveDecisions, SetValueKind, 1);  // "mixedcase" or "othersite" is not rewritten
    EXPECT_EQ(driver::ReadDecisionsKey(), capitals);
    SaveDecisions();
    EXPECT_EQ(driver::ReadDecisionsKey(), (Contents{{L"mixedcase", Dword(1)}, {L"othersite", Dword(0)}}));
}

TEST_F(FailedSave, AKeyThatCannotBeCreatedLeavesTheRegistryUnchanged)
{
    PrepareRegistry();
    Contents before = driver::ReadDecisionsKey();
    ChangeTable();
    RunFailing(SaveDecisions, CreateKeyKind, 1, true);
    EXPECT_EQ(driver::ReadDecisionsKey(), before);
    driver::DeleteDecisionsKey();
    RunFailing(SaveDecisions, CreateKeyKind, 1, true);
    EXPECT_FALSE(driver::DecisionsKeyExists());
}

}  // namespace
