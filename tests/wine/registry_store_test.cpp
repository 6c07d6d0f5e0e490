// LoadDecisions and SaveDecisions against Wine's real registry, in this process.
// The decision key is deleted around every test; the failure tests swap the
// store's registry calls for wrappers that fail on purpose.
#include "decisions/decision_table.h"
#include "text/text.h"
#include "decisions/registry_store.h"
#include "driver.h"

#include <gtest/gtest.h>

#include <string.h>
#include <wchar.h>

#include <map>
#include <set>
#include <string>
#include <utility>
#include <vector>

namespace {

// The key's values by their names as stored: type and data.
using Contents = driver::KeyContents;

// A decision as the store writes it: a REG_DWORD of its four bytes.
driver::StoredValue DwordOf(int32_t decision)
{
    return driver::Dword(static_cast<DWORD>(decision));
}

std::wstring FoldAscii(std::wstring text)
{
    for (wchar_t& c : text)
        c = FoldAsciiCase(c);
    return text;
}

// The table takes ownership of the domain it is given, so hand it a heap copy.
SiteDecision* AddSite(const std::wstring& domain, int32_t decision)
{
    return AddDecision(DuplicateText(domain.c_str(), static_cast<uint32_t>(domain.size())), decision);
}

struct Entry {
    std::wstring domain;
    int32_t decision;
    bool operator==(const Entry& other) const { return domain == other.domain && decision == other.decision; }
    bool operator<(const Entry& other) const
    {
        return domain != other.domain ? domain < other.domain : decision < other.decision;
    }
};

void PrintTo(const Entry& entry, std::ostream* out)
{
    *out << testing::PrintToString(entry.domain) << "=" << entry.decision;
}

// The table's entries, empty slots left out, in no particular order.
std::multiset<Entry> TableEntries()
{
    std::multiset<Entry> entries;
    for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i) {
        if (SiteDecisions.slots[i])
            entries.insert({SiteDecisions.slots[i]->domain, SiteDecisions.slots[i]->decision});
    }
    return entries;
}

const std::wstring kName254(254, L'n');
const std::wstring kName255(255, L'o');
const std::wstring kName300(300, L'p');

class RegistryStore : public testing::Test {
protected:
    void SetUp() override
    {
        realCalls_ = Registry;
        driver::DeleteDecisionsKey();
        ClearDecisionTable();
    }
    void TearDown() override
    {
        Registry = realCalls_;
        ClearDecisionTable();
        driver::DeleteDecisionsKey();
    }

    RegistryCalls realCalls_;
};

// ---- loading ------------------------------------------------------------------

TEST_F(RegistryStore, WithoutTheKeyTheTableStaysEmptyAndGrowsFromNothing)
{
    LoadDecisions();
    EXPECT_EQ(SiteDecisions.slotCount, 0u);
    EXPECT_EQ(FindDecision(L"alphasite"), NoDecision);
    EXPECT_FALSE(driver::DecisionsKeyExists()) << "loading must never create the key";

    SiteDecision* added = AddSite(L"alphasite", DecisionAllow);
    ASSERT_EQ(SiteDecisions.slotCount, 1u);
    EXPECT_EQ(SiteDecisions.slots[0], added);
}

TEST_F(RegistryStore, NamesLoadLowerCasedAndAreFoundWhateverTheirAsciiCase)
{
    driver::WriteDword(L"AlphaSite", 1);
    driver::WriteDword(L"betasite", 0);
    LoadDecisions();

    EXPECT_EQ(SiteDecisions.slotCount, 2u);
    EXPECT_EQ(TableEntries(), (std::multiset<Entry>{{L"alphasite", 1}, {L"betasite", 0}}));
    EXPECT_EQ(FindDecision(L"ALPHAsite"), DecisionAllow);
    EXPECT_EQ(FindDecision(L"betasite"), DecisionDeny);
    EXPECT_EQ(FindDecision(L"BetaSite"), DecisionDeny);
    EXPECT_EQ(FindDecision(L"gammasite"), NoDecision);
}

TEST_F(RegistryStore, OnlyAsciiLettersAreLowerCasedOnLoad)
{
    driver::WriteDword(L"\u00C4BCsite", 1);  // ÄBCsite
    LoadDecisions();
    EXPECT_EQ(TableEntries(), (std::multiset<Entry>{{L"\u00C4bcsite", 1}}));
    EXPECT_EQ(FindDecision(L"\u00C4bcsite"), DecisionAllow);
    EXPECT_EQ(FindDecision(L"\u00E4bcsite"), NoDecision) << "Ä and ä are different domains";
}

TEST_F(RegistryStore, AnyFourBytesAreADecisionWhateverTheirType)
{
    driver::WriteRaw(L"binarysite", REG_BINARY, {0x05, 0x00, 0x00, 0x00});
    driver::WriteRaw(L"allbits", REG_DWORD, {0xFF, 0xFF, 0xFF, 0xFF});
    LoadDecisions();

    EXPECT_EQ(TableEntries(), (std::multiset<Entry>{{L"binarysite", 5}, {L"allbits", -1}}));
    EXPECT_EQ(FindDecision(L"binarysite"), 5);
    // A stored -1 cannot be told from a site without an entry.
    EXPECT_EQ(FindDecision(L"allbits"), NoDecision);
}

// Values that are no decision each keep a slot (slot i is value i) but no entry,
// and the next save removes them.
TEST_F(RegistryStore, PassedOverValuesLeaveEmptySlotsAndGoAtTheNextSave)
{
    driver::WriteDword(L"keptsite", 1);
    driver::WriteRaw(L"eightbytes", REG_QWORD, {1, 0, 0, 0, 0, 0, 0, 0});
    driver::WriteRaw(L"twobytes", REG_BINARY, {1, 0});
    driver::WriteRaw(L"nobytes", REG_BINARY, {});
    driver::WriteDword(L"", 1);  // the key's default value, four bytes and all
    driver::WriteDword(kName300, 1);
    driver::WriteDword(kName255, 0);
    driver::WriteDword(kName254, 0);
    ASSERT_EQ(driver::ReadDecisionsKey().size(), 8u);

    LoadDecisions();
    EXPECT_EQ(SiteDecisions.slotCount, 8u);
    EXPECT_EQ(TableEntries(), (std::multiset<Entry>{{L"keptsite", 1}, {kName254, 0}}))
        << "254 characters is the longest name that loads";

    SaveDecisions();
    EXPECT_EQ(driver::ReadDecisionsKey(), (Contents{{L"keptsite", DwordOf(1)}, {kName254, DwordOf(0)}}));
}

// ---- saving -------------------------------------------------------------------

TEST_F(RegistryStore, SavedDecisionsLoadBack)
{
    AddSite(L"alphasite", DecisionAllow);
    AddSite(L"BetaSite", DecisionDeny);
    AddSite(L"oddsite", 7);
    AddSite(kName254, DecisionAllow);
    SaveDecisions();
    EXPECT_EQ(driver::ReadDecisionsKey(), (Contents{{L"alphasite", DwordOf(1)},
                                            {L"betasite", DwordOf(0)},
                                            {L"oddsite", DwordOf(7)},
                                            {kName254, DwordOf(1)}}));

    std::multiset<Entry> saved = TableEntries();
    ClearDecisionTable();
    LoadDecisions();
    EXPECT_EQ(SiteDecisions.slotCount, 4u);
    EXPECT_EQ(TableEntries(), saved);
}

TEST_F(RegistryStore, SaveLowerCasesTheDomainsItWrites)
{
    // The loader's way in does not lower-case; the save must.
    ResetDecisionTable(1);
    PutDecisionInSlot(0, DuplicateText(L"MixedSite", 9), DecisionAllow);
    SaveDecisions();
    EXPECT_EQ(driver::ReadDecisionsKey(), (Contents{{L"mixedsite", DwordOf(1)}}));
    EXPECT_STREQ(SiteDecisions.slots[0]->domain, L"mixedsite");
}

TEST_F(RegistryStore, TheLaterOfTwoEntriesForOneDomainIsWhatIsStored)
{
    AddSite(L"alphasite", DecisionAllow);
    SiteDecision* gap = AddSite(L"gapsite", DecisionAllow);
    AddSite(L"AlphaSite", DecisionDeny);
    RemoveDecision(gap);  // slot 1 is now empty
    SaveDecisions();
    EXPECT_EQ(driver::ReadDecisionsKey(), (Contents{{L"alphasite", DwordOf(0)}}));
}

TEST_F(RegistryStore, AnEntryWithAnEmptyDomainIsNotWrittenButStaysInTheTable)
{
    AddSite(L"", DecisionAllow);
    AddSite(L"namedsite", DecisionDeny);
    SaveDecisions();
    EXPECT_EQ(driver::ReadDecisionsKey(), (Contents{{L"namedsite", DwordOf(0)}}));
    EXPECT_EQ(TableEntries(), (std::multiset<Entry>{{L"", 1}, {L"namedsite", 0}}));
}

TEST_F(RegistryStore, AnEmptyTableLeavesTheKeyWithNoValues)
{
    SaveDecisions();
    EXPECT_TRUE(driver::DecisionsKeyExists()) << "a save into no key creates it";
    EXPECT_TRUE(driver::ReadDecisionsKey().empty());

    driver::WriteDword(L"oldsite", 1);
    driver::WriteDword(L"", 1);
    driver::WriteRaw(L"junk", REG_SZ, {'x', 0, 0, 0});
    SiteDecision* entry = AddSite(L"gonesite", DecisionAllow);
    RemoveDecision(entry);  // one empty slot, no entry
    SaveDecisions();
    EXPECT_TRUE(driver::DecisionsKeyExists());
    EXPECT_EQ(driver::ReadDecisionsKey(), Contents{});
}

TEST_F(RegistryStore, ADomainTooLongToLoadIsStillWritten)
{
    AddSite(kName300, DecisionAllow);
    SaveDecisions();
    EXPECT_EQ(driver::ReadDecisionsKey(), (Contents{{kName300, DwordOf(1)}}));

    ClearDecisionTable();
    LoadDecisions();
    EXPECT_EQ(SiteDecisions.slotCount, 1u);
    EXPECT_TRUE(TableEntries().empty());
    EXPECT_EQ(FindDecision(kName300.c_str()), NoDecision);
}

TEST_F(RegistryStore, SubkeysOfTheKeyAreLeftAlone)
{
    HKEY subkey;
    ASSERT_EQ(RegCreateKeyExW(HKEY_CURRENT_USER, (std::wstring(driver::kDecisionsKey) + L"\\Nested").c_str(), 0,
                              nullptr, 0, KEY_ALL_ACCESS, nullptr, &subkey, nullptr),
              ERROR_SUCCESS);
    DWORD one = 1;
    RegSetValueExW(subkey, L"inner", 0, REG_DWORD, reinterpret_cast<const BYTE*>(&one), 4);
    RegCloseKey(subkey);
    driver::WriteDword(L"oldsite", 1);

    AddSite(L"newsite", DecisionDeny);
    SaveDecisions();
    EXPECT_EQ(driver::ReadDecisionsKey(), (Contents{{L"newsite", DwordOf(0)}}));
    ASSERT_EQ(RegOpenKeyExW(HKEY_CURRENT_USER, (std::wstring(driver::kDecisionsKey) + L"\\Nested").c_str(), 0,
                            KEY_READ, &subkey),
              ERROR_SUCCESS);
    DWORD inner = 0, size = 4;
    EXPECT_EQ(RegQueryValueExW(subkey, L"inner", nullptr, nullptr, reinterpret_cast<BYTE*>(&inner), &size),
              ERROR_SUCCESS);
    EXPECT_EQ(inner, 1u);
    RegCloseKey(subkey);
}

// The registry matches value names without regard to case (and not only ASCII
// case), so writing a site overwrites the value stored under another case. The
// clean-up after the writes must match names the same way, or it deletes the
// value it has just written as if it were stale.
TEST_F(RegistryStore, AValueStoredUnderAnotherCaseSurvivesTheSave)
{
    driver::WriteDword(L"AlphaSite", 0);
    AddSite(L"alphasite", DecisionAllow);
    SaveDecisions();
    Contents contents = driver::ReadDecisionsKey();
    ASSERT_EQ(contents.size(), 1u);
    EXPECT_EQ(FoldAscii(contents.begin()->first), L"alphasite");
    EXPECT_EQ(contents.begin()->second, DwordOf(1));
}

TEST_F(RegistryStore, LoadedNamesWithNonAsciiCapitalsSurviveTheSave)
{
    driver::WriteDword(L"\u00C4BCsite", 1);  // ÄBCsite, loaded as Äbcsite
    driver::WriteDword(L"AlphaSite", 0);
    LoadDecisions();
    SaveDecisions();
    Contents contents = driver::ReadDecisionsKey();
    ASSERT_EQ(contents.size(), 2u);
    Contents folded;
    for (const auto& [name, value] : contents)
        folded[FoldAscii(name)] = value;
    EXPECT_EQ(folded, (Contents{{L"\u00C4bcsite", DwordOf(1)}, {L"alphasite", DwordOf(0)}}));
}

TEST_F(RegistryStore, ADomainMatchingAStoredNameOnlyByNonAsciiCaseSurvivesTheSave)
{
    // Renamed in Preferences to the small letters; the registry holds the capitals.
    const std::vector<std::pair<std::wstring, std::wstring>> pairs = {
        {L"\u00C4BCSITE", L"\u00E4bcsite"},      // Latin-1
        {L"\u03A9MEGA.GR", L"\u03C9mega.gr"},    // Greek
        {L"\u0416\u0423\u041A.RU", L"\u0436\u0443\u043A.ru"},  // Cyrillic
    };
    for (const auto& [stored, renamed] : pairs) {
        driver::WriteDword(stored, 1);
        AddSite(renamed, DecisionDeny);
    }
    SaveDecisions();
    Contents contents = driver::ReadDecisionsKey();
    EXPECT_EQ(contents.size(), pairs.size());
    for (const auto& [name, value] : contents)
        EXPECT_EQ(value, DwordOf(0)) << testing::PrintToString(name);
}

// ---- a save that fails part-way ------------------------------------------------

enum CallKind { OpenKeyKind, CreateKeyKind, QueryInfoKind, EnumValueKind, QueryValueKind, SetValueKind,
                DeleteValueKind, CloseKeyKind, CallKindCount };

const char* const kCallKindNames[CallKindCount] = {"OpenKeyEx", "CreateKeyEx", "QueryInfoKey", "EnumValue",
                                                   "QueryValueEx", "SetValueEx", "DeleteValue", "CloseKey"};

// Counts every registry call the store makes and fails the chosen one (or, when
// `persistent`, that one and every later call of its kind) without calling
// through, as a registry that turns read-only or runs out of room would.
struct Injection {
    RegistryCalls real;
    int calls[CallKindCount];
    CallKind failingKind;
    int failAt;  // 1-based; 0 never fails
    bool persistent;
};
Injection injection;

bool ShouldFail(CallKind kind)
{
    int n = ++injection.calls[kind];
    if (kind != injection.failingKind || injection.failAt == 0)
        return false;
    return injection.persistent ? n >= injection.failAt : n == injection.failAt;
}

LSTATUS WINAPI CountedOpenKeyEx(HKEY key, LPCWSTR path, DWORD options, REGSAM access, PHKEY opened)
{
    return ShouldFail(OpenKeyKind) ? ERROR_ACCESS_DENIED : injection.real.OpenKeyEx(key, path, options, access, opened);
}

LSTATUS WINAPI CountedCreateKeyEx(HKEY key, LPCWSTR path, DWORD reserved, LPWSTR className, DWORD options,
                                  REGSAM access, const LPSECURITY_ATTRIBUTES security, PHKEY created,
                                  LPDWORD disposition)
{
    return ShouldFail(CreateKeyKind) ? ERROR_ACCESS_DENIED
                                     : injection.real.CreateKeyEx(key, path, reserved, className, options, access,
                                                                  security, created, disposition);
}

LSTATUS WINAPI CountedQueryInfoKey(HKEY key, LPWSTR className, LPDWORD classLength, LPDWORD reserved,
                                   LPDWORD subkeys, LPDWORD longestSubkey, LPDWORD longestClass, LPDWORD values,
                                   LPDWORD longestValueName, LPDWORD longestValueData, LPDWORD security,
                                   PFILETIME written)
{
    return ShouldFail(QueryInfoKind)
               ? ERROR_ACCESS_DENIED
               : injection.real.QueryInfoKey(key, className, classLength, reserved, subkeys, longestSubkey,
                                             longestClass, values, longestValueName, longestValueData, security,
                                             written);
}

LSTATUS WINAPI CountedEnumValue(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved,
                                LPDWORD type, LPBYTE data, LPDWORD dataSize)
{
    return ShouldFail(EnumValueKind)
               ? ERROR_ACCESS_DENIED
               : injection.real.EnumValue(key, index, name, nameLength, reserved, type, data, dataSize);
}

LSTATUS WINAPI CountedQueryValueEx(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data,
                                   LPDWORD size)
{
    return ShouldFail(QueryValueKind) ? ERROR_ACCESS_DENIED
                                      : injection.real.QueryValueEx(key, name, reserved, type, data, size);
}

LSTATUS WINAPI CountedSetValueEx(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
{
    return ShouldFail(SetValueKind) ? ERROR_ACCESS_DENIED
                                    : injection.real.SetValueEx(key, name, reserved, type, data, size);
}

LSTATUS WINAPI CountedDeleteValue(HKEY key, LPCWSTR name)
{
    return ShouldFail(DeleteValueKind) ? ERROR_ACCESS_DENIED : injection.real.DeleteValue(key, name);
}

LSTATUS WINAPI CountedCloseKey(HKEY key)
{
    // A failed close still closes: otherwise the leaked handle would keep the
    // key from being deleted between rounds, which is no part of the store.
    bool fail = ShouldFail(CloseKeyKind);
    LSTATUS status = injection.real.CloseKey(key);
    return fail ? ERROR_ACCESS_DENIED : status;
}

void InjectFailure(const RegistryCalls& real, CallKind kind, int failAt, bool persistent)
{
    injection = {};
    injection.real = real;
    injection.failingKind = kind;
    injection.failAt = failAt;
    injection.persistent = persistent;
    Registry = {CountedOpenKeyEx,    CountedCreateKeyEx, CountedQueryInfoKey, CountedEnumValue,
                CountedQueryValueEx, CountedSetValueEx,  CountedDeleteValue,  CountedCloseKey};
}

class FailedSave : public RegistryStore {
protected:
    // A previous save, then junk that the program never writes.
    // mixedCaseName: a value another program wrote under a name in capitals,
    // which the save renames to lower case.
    void PrepareRegistry(const wchar_t* mixedCaseName = L"MixedCase")
    {
        driver::DeleteDecisionsKey();
        ClearDecisionTable();
        AddSite(L"keptallow", DecisionAllow);
        AddSite(L"keptdeny", DecisionDeny);
        AddSite(L"updatedsite", DecisionDeny);
        AddSite(L"removedsite", DecisionAllow);
        AddSite(L"renamedsite", DecisionAllow);
        SaveDecisions();
        ClearDecisionTable();
        driver::WriteDword(mixedCaseName, 1);
        driver::WriteDword(L"", 1);
        driver::WriteRaw(L"eightbytes", REG_QWORD, {1, 2, 3, 4, 5, 6, 7, 8});
        driver::WriteDword(kName300, 0);
    }

    // The table a run would hold by its save: loaded, then changed.
    void ChangeTable()
    {
        LoadDecisions();
        UpdateDecisionOf(L"updatedsite", DecisionAllow);
        UpdateDecisionOf(L"mixedcase", DecisionDeny);
        for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i) {
            SiteDecision* entry = SiteDecisions.slots[i];
            if (entry && wcscmp(entry->domain, L"removedsite") == 0)
                RemoveDecision(entry);
            else if (entry && wcscmp(entry->domain, L"renamedsite") == 0)
                RenameDecision(entry, L"NewName", 7);
        }
        AddSite(L"addedallow", DecisionAllow);
        AddSite(L"addeddeny", DecisionDeny);
        AddSite(L"", DecisionAllow);  // added in Preferences, not named yet
    }

    static void UpdateDecisionOf(const wchar_t* domain, int32_t decision)
    {
        std::wstring copy = domain;
        ASSERT_NE(UpdateDecision(&copy[0], decision), nullptr) << testing::PrintToString(copy);
    }

    // What the key must hold once a save has gone through: the table, case-folded.
    static std::map<std::wstring, int32_t> TableByFoldedName()
    {
        std::map<std::wstring, int32_t> table;
        for (const Entry& entry : TableEntries()) {
            if (!entry.domain.empty())
                table[FoldAscii(entry.domain)] = entry.decision;
        }
        return table;
    }

    // Whatever failed, each decision that was stored and is still in the table
    // is still stored, old or new; nothing else is written, nothing is garbled.
    static void ExpectNothingLost(const Contents& before, const std::map<std::wstring, int32_t>& table)
    {
        Contents after = driver::ReadDecisionsKey();
        std::map<std::wstring, std::wstring> storedName;  // folded -> as stored now
        for (const auto& [name, value] : after)
            storedName[FoldAscii(name)] = name;

        for (const auto& [name, value] : before) {
            auto inTable = table.find(FoldAscii(name));
            if (inTable == table.end())
                continue;
            auto now = storedName.find(FoldAscii(name));
            ASSERT_NE(now, storedName.end()) << "decision lost: " << testing::PrintToString(name);
            const auto& data = after.at(now->second);
            EXPECT_TRUE(data == value || data == DwordOf(inTable->second))
                << testing::PrintToString(name) << " holds neither its old nor its new decision";
        }
        for (const auto& [name, value] : after) {
            auto old = before.find(name);
            bool unchanged = old != before.end() && old->second == value;
            auto inTable = table.find(FoldAscii(name));
            bool written = inTable != table.end() && value == DwordOf(inTable->second);
            EXPECT_TRUE(unchanged || written) << "garbled or foreign value " << testing::PrintToString(name);
        }
    }

    static Contents ExpectedAfterCleanSave(const std::map<std::wstring, int32_t>& table)
    {
        Contents expected;
        for (const auto& [name, decision] : table)
            expected[name] = DwordOf(decision);
        return expected;
    }

    static Contents FoldNames(const Contents& contents)
    {
        Contents folded;
        for (const auto& [name, value] : contents)
            folded[FoldAscii(name)] = value;
        return folded;
    }

    // Counts what a save that goes through calls, kind by kind.
    void CountCleanSave(int counts[CallKindCount])
    {
        PrepareRegistry();
        ChangeTable();
        InjectFailure(realCalls_, CallKindCount, 0, false);
        SaveDecisions();
        Registry = realCalls_;
        memcpy(counts, injection.calls, sizeof(injection.calls));
    }

    void RunEveryFailure(bool persistent, const wchar_t* mixedCaseName = L"MixedCase")
    {
        int counts[CallKindCount];
        CountCleanSave(counts);
        ASSERT_GT(counts[CreateKeyKind], 0);
        ASSERT_GT(counts[SetValueKind], 0);
        ASSERT_GT(counts[DeleteValueKind], 0) << "the prepared key holds stale values to delete";

        int rounds = 0;
        for (int kind = 0; kind < CallKindCount; ++kind) {
            for (int n = 1; n <= counts[kind]; ++n, ++rounds) {
                SCOPED_TRACE(testing::Message() << kCallKindNames[kind] << " call " << n << " of " << counts[kind]
                                                << (persistent ? " and every later one" : "") << " fails");
                PrepareRegistry(mixedCaseName);
                Contents before = driver::ReadDecisionsKey();
                ChangeTable();
                std::map<std::wstring, int32_t> table = TableByFoldedName();

                InjectFailure(realCalls_, static_cast<CallKind>(kind), n, persistent);
                SaveDecisions();
                Registry = realCalls_;
                ExpectNothingLost(before, table);

                SaveDecisions();
                EXPECT_EQ(FoldNames(driver::ReadDecisionsKey()), ExpectedAfterCleanSave(table));
                if (HasFailure())
                    return;  // one broken round says it all
            }
        }
        EXPECT_GT(rounds, 0);
    }
};

TEST_F(FailedSave, TheSetUpMakesEveryKindOfChange)
{
    PrepareRegistry();
    Contents before = FoldNames(driver::ReadDecisionsKey());
    ChangeTable();
    SaveDecisions();
    EXPECT_EQ(FoldNames(driver::ReadDecisionsKey()), (Contents{{L"keptallow", DwordOf(1)},
                                                       {L"keptdeny", DwordOf(0)},
                                                       {L"updatedsite", DwordOf(1)},
                                                       {L"mixedcase", DwordOf(0)},
                                                       {L"newname", DwordOf(1)},
                                                       {L"addedallow", DwordOf(1)},
                                                       {L"addeddeny", DwordOf(0)}}));
    EXPECT_EQ(before.size(), 9u);
}

TEST_F(FailedSave, AnySingleFailedCallLosesNoStoredDecision)
{
    RunEveryFailure(false);
}

TEST_F(FailedSave, ACallThatKeepsFailingFromAnyPointLosesNoStoredDecision)
{
    // Renaming a value means deleting it and writing it again: the registry has no
    // rename for values. A write failure right after such a delete is undone by
    // writing the old name back, but a registry that refuses every write from
    // that very call on leaves nothing to undo with. So here the key holds only
    // what this program writes itself: lower-case names.
    RunEveryFailure(true, L"mixedcase");
}

TEST_F(FailedSave, ANameInCapitalsIsLowerCasedOnlyAfterEveryWriteWentThrough)
{
    driver::WriteDword(L"MixedCase", 1);
    driver::WriteDword(L"OtherSite", 0);
    LoadDecisions();

    InjectFailure(realCalls_, SetValueKind, 1, false);  // "mixedcase" or "othersite" is not rewritten
    SaveDecisions();
    Registry = realCalls_;
    EXPECT_EQ(driver::ReadDecisionsKey(), (Contents{{L"MixedCase", DwordOf(1)}, {L"OtherSite", DwordOf(0)}}));

    SaveDecisions();
    EXPECT_EQ(driver::ReadDecisionsKey(), (Contents{{L"mixedcase", DwordOf(1)}, {L"othersite", DwordOf(0)}}));
}

TEST_F(FailedSave, AKeyThatCannotBeCreatedLeavesTheRegistryUnchanged)
{
    PrepareRegistry();
    Contents before = driver::ReadDecisionsKey();
    ChangeTable();
    InjectFailure(realCalls_, CreateKeyKind, 1, true);
    SaveDecisions();
    Registry = realCalls_;
    EXPECT_EQ(driver::ReadDecisionsKey(), before);

    driver::DeleteDecisionsKey();
    InjectFailure(realCalls_, CreateKeyKind, 1, true);
    SaveDecisions();
    Registry = realCalls_;
    EXPECT_FALSE(driver::DecisionsKeyExists());
}

class FailedLoad : public RegistryStore {};

TEST_F(FailedLoad, AValueThatCannotBeReadLeavesItsSlotEmpty)
{
    driver::WriteDword(L"firstsite", 1);
    driver::WriteDword(L"secondsite", 0);
    driver::WriteDword(L"thirdsite", 1);

    // Slot i stands for the value at enumeration index i.
    InjectFailure(realCalls_, EnumValueKind, 2, false);
    LoadDecisions();
    ASSERT_EQ(SiteDecisions.slotCount, 3u);
    EXPECT_EQ(SiteDecisions.slots[1], nullptr);
    EXPECT_EQ(TableEntries().size(), 2u);

    InjectFailure(realCalls_, QueryValueKind, 3, false);
    LoadDecisions();
    ASSERT_EQ(SiteDecisions.slotCount, 3u);
    EXPECT_EQ(SiteDecisions.slots[2], nullptr);
    EXPECT_EQ(TableEntries().size(), 2u);

    ClearDecisionTable();
    InjectFailure(realCalls_, OpenKeyKind, 1, false);
    LoadDecisions();
    EXPECT_EQ(SiteDecisions.slotCount, 0u) << "a key that cannot be opened leaves the table empty";
}

// ---- size ---------------------------------------------------------------------

TEST_F(RegistryStore, AHundredThousandSitesMakeTheRoundTrip)
{
    const uint32_t kSites = 100000;
    ResetDecisionTable(kSites);
    for (uint32_t i = 0; i < kSites; ++i) {
        std::wstring domain = L"site" + std::to_wstring(i * 7919u % kSites) + L".example";
        PutDecisionInSlot(i, DuplicateText(domain.c_str(), static_cast<uint32_t>(domain.size())),
                          static_cast<int32_t>(i % 3));
    }
    std::multiset<Entry> saved = TableEntries();
    SaveDecisions();

    ClearDecisionTable();
    LoadDecisions();
    EXPECT_EQ(SiteDecisions.slotCount, kSites);
    EXPECT_EQ(TableEntries(), saved);
}

}  // namespace
