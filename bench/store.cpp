// Benchmark: LoadDecisions and SaveDecisions against Wine's real registry at
// 1k, 10k and 100k remembered sites. Both should grow linearly: the load is
// one enumeration and one query per value, the save one write per entry and
// one hashed pass for the stale values.
//
//   halvane_bench_store [--quick] [--sorted-names]   (--quick: one round)
//
// Three figures per size:
//   save    the table written over a key that already holds it, which is what
//           every save after the first does (the program loads, changes one
//           site, and rewrites the whole table);
//   load    the table read back into an empty table;
//   first   the same table saved into an empty key (every value is new).
//
// The sizes take turns, round after round, so that a change in the machine's
// load falls on all of them and not on one growth ratio.
//
// The time spent inside the registry calls is counted apart (through the
// store's table of registry functions), so that the program's own share of
// each figure, and how that share grows, can be told from Wine's.
//
// Each registry call is a round trip to the Wine server. Unless the server
// and this program share one CPU (scripts/bench pins the whole run to one), a
// round trip took either about 9 or about 40 microseconds on a 2-core machine,
// switching between the two for seconds at a time, and the figures with it.
//
// The table is filled the way LoadDecisions fills it (one slot per site).
// Filling it one AddDecision at a time, as the Preferences dialog's Add
// button does, is shown at 1k, 10k and 100k for the record: it should grow
// linearly too (AddDecision starts at the lowest slot that may be empty and
// the slots grow by doubling).
#include "bench_common.h"
#include "driver.h"

#include "decisions/decision_table.h"
#include "text/text.h"
#include "decisions/registry_store.h"

namespace {

// Names in no particular order, as sites are remembered: the multiplier is
// odd, so the names are distinct, and their order is far from sorted. With
// --sorted-names they come in the registry's own order instead, which shows
// how much of a first save is the registry keeping its values sorted.
bool SortedNames = false;

std::wstring SiteName(uint32_t i)
{
    wchar_t name[40];
    swprintf(name, 40, L"Site-%08x.example", SortedNames ? i : i * 2654435761u);
    return name;
}

// ---- the registry calls, timed ------------------------------------------------

RegistryCalls Real;
double InRegistryMs = 0;
uint32_t RegistryCallCount = 0;

struct RegistryClock {
    double start = bench::NowMs();
    ~RegistryClock()
    {
        InRegistryMs += bench::NowMs() - start;
        ++RegistryCallCount;
    }
};

// What reading the clock costs: about one reading per timed call falls
// outside the timed part, and would otherwise be counted as the program's.
double ClockReadingMs()
{
    enum { Readings = 100000 };
    double sink = 0, start = bench::NowMs();
    for (int i = 0; i < Readings; ++i)
        sink += bench::NowMs();
    double elapsed = bench::NowMs() - start;
    return sink > 0 ? elapsed / Readings : 0;
}

double ClockCostMs = 0;

LSTATUS WINAPI TimedOpenKeyEx(HKEY key, LPCWSTR path, DWORD options, REGSAM access, PHKEY opened)
{
    RegistryClock clock;
    return Real.OpenKeyEx(key, path, options, access, opened);
}

LSTATUS WINAPI TimedCreateKeyEx(HKEY key, LPCWSTR path, DWORD reserved, LPWSTR keyClass, DWORD options,
                                REGSAM access, const LPSECURITY_ATTRIBUTES security, PHKEY created,
                                LPDWORD disposition)
{
    RegistryClock clock;
    return Real.CreateKeyEx(key, path, reserved, keyClass, options, access, security, created, disposition);
}

LSTATUS WINAPI TimedQueryInfoKey(HKEY key, LPWSTR keyClass, LPDWORD classLength, LPDWORD reserved, LPDWORD subKeys,
                                 LPDWORD longestSubKey, LPDWORD longestClass, LPDWORD values, LPDWORD longestValueName,
                                 LPDWORD longestValueData, LPDWORD security, PFILETIME written)
{
    RegistryClock clock;
    return Real.QueryInfoKey(key, keyClass, classLength, reserved, subKeys, longestSubKey, longestClass, values,
                             longestValueName, longestValueData, security, written);
}

LSTATUS WINAPI TimedEnumValue(HKEY key, DWORD index, LPWSTR name, LPDWORD nameLength, LPDWORD reserved, LPDWORD type,
                              LPBYTE data, LPDWORD dataSize)
{
    RegistryClock clock;
    return Real.EnumValue(key, index, name, nameLength, reserved, type, data, dataSize);
}

LSTATUS WINAPI TimedQueryValueEx(HKEY key, LPCWSTR name, LPDWORD reserved, LPDWORD type, LPBYTE data, LPDWORD size)
{
    RegistryClock clock;
    return Real.QueryValueEx(key, name, reserved, type, data, size);
}

LSTATUS WINAPI TimedSetValueEx(HKEY key, LPCWSTR name, DWORD reserved, DWORD type, const BYTE* data, DWORD size)
{
    RegistryClock clock;
    return Real.SetValueEx(key, name, reserved, type, data, size);
}

LSTATUS WINAPI TimedDeleteValue(HKEY key, LPCWSTR name)
{
    RegistryClock clock;
    return Real.DeleteValue(key, name);
}

LSTATUS WINAPI TimedCloseKey(HKEY key)
{
    RegistryClock clock;
    return Real.CloseKey(key);
}

void TimeRegistryCalls()
{
    Real = Registry;
    Registry = {TimedOpenKeyEx,    TimedCreateKeyEx, TimedQueryInfoKey, TimedEnumValue,
                TimedQueryValueEx, TimedSetValueEx,  TimedDeleteValue,  TimedCloseKey};
}

// A call of the store: timed whole, and for its own part outside the registry calls.
struct Figures {
    std::vector<double> total, own;
};

template <typename Call>
void TimeStoreCall(Call call, Figures& figures)
{
    InRegistryMs = 0;
    RegistryCallCount = 0;
    double start = bench::NowMs();
    call();
    double total = bench::NowMs() - start;
    figures.total.push_back(total);
    figures.own.push_back(total - InRegistryMs - RegistryCallCount * ClockCostMs);
}

// ---- the benchmark ------------------------------------------------------------

uint32_t CountEntries()
{
    uint32_t count = 0;
    for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i)
        count += SiteDecisions.slots[i] != nullptr;
    return count;
}

// The loaded table must be the saved one, or the timing measured something else.
void CheckLoaded(uint32_t sites)
{
    if (SiteDecisions.slotCount != sites || CountEntries() != sites)
        bench::Fail("loaded %u of %u sites (%u slots)", CountEntries(), sites, SiteDecisions.slotCount);
    for (uint32_t i : {0u, sites / 2, sites - 1}) {
        if (FindDecision(SiteName(i).c_str()) != static_cast<int32_t>(i % 2))
            bench::Fail("site %u came back with the wrong decision", i);
    }
}

struct SizeTimes {
    uint32_t sites;
    int repsPerRound;
    Figures first, save, load;
};

// One round at one size: a fresh key and table, the first save, then
// repsPerRound rewrites and loads.
void MeasureRound(SizeTimes& size)
{
    driver::DeleteDecisionsKey();
    ResetDecisionTable(size.sites);
    for (uint32_t i = 0; i < size.sites; ++i) {
        std::wstring name = SiteName(i);
        PutDecisionInSlot(i, DuplicateText(name.c_str(), static_cast<uint32_t>(name.size())),
                          static_cast<int32_t>(i % 2));
    }

    TimeStoreCall(SaveDecisions, size.first);
    for (int r = 0; r < size.repsPerRound; ++r) {
        TimeStoreCall(SaveDecisions, size.save);
        ClearDecisionTable();
        TimeStoreCall(LoadDecisions, size.load);
        CheckLoaded(size.sites);
    }
    ClearDecisionTable();
    driver::DeleteDecisionsKey();
}

// Building a table of `sites` entries one AddDecision at a time, as the
// Preferences dialog's Add button does.
double TimeAddDecisionFill(uint32_t sites)
{
    ClearDecisionTable();
    double start = bench::NowMs();
    for (uint32_t i = 0; i < sites; ++i) {
        std::wstring name = SiteName(i);
        AddDecision(DuplicateText(name.c_str(), static_cast<uint32_t>(name.size())), static_cast<int32_t>(i % 2));
    }
    double elapsed = bench::NowMs() - start;
    ClearDecisionTable();
    return elapsed;
}

}  // namespace

static int Measure(int argc, wchar_t** argv)
{
    bool quick = bench::Flag(argc, argv, L"--quick");
    SortedNames = bench::Flag(argc, argv, L"--sorted-names");
    int rounds = quick ? 1 : 3;
    TimeRegistryCalls();
    ClockCostMs = ClockReadingMs();
    std::vector<SizeTimes> sizes = {{1000, quick ? 5 : 4, {}, {}, {}},
                                    {10000, 2, {}, {}, {}},
                                    {100000, 1, {}, {}, {}}};
    for (int round = 0; round < rounds; ++round) {
        for (size_t k = 0; k < sizes.size(); ++k)
            MeasureRound(sizes[(k + static_cast<size_t>(round)) % sizes.size()]);
    }

    for (const SizeTimes& size : sizes) {
        bench::Say("%6u sites: save       %s", size.sites, bench::Spread(size.save.total).c_str());
        bench::Say("%6u sites: load       %s", size.sites, bench::Spread(size.load.total).c_str());
        bench::Say("%6u sites: first save %s", size.sites, bench::Spread(size.first.total).c_str());
    }

    struct Row {
        const char* what;
        const char* summaryName;
        Figures SizeTimes::*figures;
    } rows[] = {
        {"save", "SaveDecisions, key holds the table", &SizeTimes::save},
        {"load", "LoadDecisions", &SizeTimes::load},
        {"first save", "SaveDecisions, empty key", &SizeTimes::first},
    };
    for (const Row& row : rows) {
        // Medians of one kind of figure at 1k, 10k and 100k.
        auto at = [&](std::vector<double> Figures::*kind, double out[3]) {
            for (int k = 0; k < 3; ++k)
                out[k] = bench::Median(sizes[k].*row.figures.*kind);
        };
        double total[3], own[3];
        at(&Figures::total, total);
        at(&Figures::own, own);
        double growth = total[2] / total[1];
        bench::Say("%s: 1k %.1f ms, 10k %.1f ms, 100k %.1f ms; growth 10k/1k %.2fx, 100k/10k %.2fx "
                   "(target 100k/10k <= 11x)",
                   row.what, total[0], total[1], total[2], total[1] / total[0], growth);
        bench::Say("  outside the registry calls: 1k %.2f ms, 10k %.1f ms, 100k %.1f ms; growth 10k/1k %.2fx, "
                   "100k/10k %.2fx",
                   own[0], own[1], own[2], own[1] / own[0], own[2] / own[1]);
        bench::Summary(row.summaryName,
                       bench::Format("1k %.1f / 10k %.0f / 100k %.0f ms", total[0], total[1], total[2]), "growth",
                       bench::Format("100k/10k %.2fx (own code %.2fx)", growth, own[2] / own[1]),
                       "100k/10k <= 11x", growth <= 11.0);
    }

    double addSmall = TimeAddDecisionFill(1000);
    double addMedium = TimeAddDecisionFill(10000);
    double addLarge = TimeAddDecisionFill(100000);
    bench::Say("(for the record) filling the table with AddDecision: 1k %.1f ms, 10k %.1f ms, 100k %.1f ms; "
               "growth 10k/1k %.1fx, 100k/10k %.1fx",
               addSmall, addMedium, addLarge, addMedium / addSmall, addLarge / addMedium);
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    return bench::Guarded([&] { return Measure(argc, argv); });
}
