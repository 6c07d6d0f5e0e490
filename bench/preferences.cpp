// Benchmark: the Preferences dialog with many remembered sites. Two figures
// at 1k, 10k and 100k stored sites:
//   shown   CreateProcess of `halvane.exe en` until its Preferences dialog is
//           visible, which it becomes only once every row is in its list;
//   OK      the OK click until the process has ended: the dialog and its
//           list destroyed and the whole table saved.
// Both are judged by their growth, each size against the one ten times
// smaller in the same run; the largest size is also held to a time.
//
//   halvane_bench_preferences [--quick] [--sizes A,B,C] [--rounds N] [--limit S]
//     --quick    300, 3k and 30k sites, one round (same growth steps, smaller)
//     --sizes    other sizes, ascending, each ten times the one before
//     --rounds   rounds over all sizes (default 3; each runs 1k three times,
//                10k twice and 100k once, and re-seeds the key first)
//     --limit    seconds to wait for the dialog and for the exit (default 120)
//
// The sites are written into the key with the program's own store before each
// size's runs (not timed), named in no particular order, as sites are
// remembered. The program rewrites the same table on OK, so the key stays as
// seeded between runs of one size.
#include "bench_common.h"
#include "driver.h"

#include "decisions/decision_table.h"
#include "decisions/registry_store.h"
#include "text/text.h"
#include "ui/resource_ids.h"

#include <commctrl.h>

namespace {

const double kShownTargetMs = 15000;  // at 100k sites
const double kGrowthTarget = 12.0;    // per tenfold step

std::wstring SiteName(uint32_t i)
{
    wchar_t name[40];
    swprintf(name, 40, L"site-%08x.example", i * 2654435761u);
    return name;
}

uint32_t StoredValueCount()
{
    HKEY key = nullptr;
    DWORD values = 0;
    if (RegOpenKeyExW(HKEY_CURRENT_USER, DECISIONS_KEY_PATH, 0, KEY_READ, &key) == ERROR_SUCCESS) {
        RegQueryInfoKeyW(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &values, nullptr, nullptr, nullptr,
                         nullptr);
        RegCloseKey(key);
    }
    return values;
}

struct Size {
    uint32_t sites;
    int runsPerRound;
    std::wstring firstLabel, lastLabel;  // where the list's ascending sort puts them
    std::vector<double> shown, ok;
};

void Seed(Size& size)
{
    driver::DeleteDecisionsKey();
    ResetDecisionTable(size.sites);
    size.firstLabel = size.lastLabel = SiteName(0);
    for (uint32_t i = 0; i < size.sites; ++i) {
        std::wstring name = SiteName(i);
        PutDecisionInSlot(i, DuplicateText(name.c_str(), static_cast<uint32_t>(name.size())),
                          static_cast<int32_t>(i % 2));
        if (lstrcmpW(name.c_str(), size.firstLabel.c_str()) < 0)
            size.firstLabel = name;
        if (lstrcmpW(name.c_str(), size.lastLabel.c_str()) > 0)
            size.lastLabel = name;
    }
    SaveDecisions();
    ClearDecisionTable();
    if (StoredValueCount() != size.sites)
        bench::Fail("seeded %u of %u sites", StoredValueCount(), size.sites);
}

void MeasureRun(Size& size, DWORD limitMs)
{
    double start = bench::NowMs();
    driver::ScopedProcess process(driver::Launch(L"en"));
    if (!process.get().handle)
        bench::Fail("cannot start halvane.exe (error %lu)", GetLastError());
    HWND dialog = bench::WaitForFirstDialog(process, start, limitMs);
    if (!dialog && process.WaitForExit(0) != STILL_ACTIVE)
        bench::Fail("halvane.exe en ended without showing Preferences (%u sites)", size.sites);
    if (!dialog)
        bench::Fail("Preferences with %u sites not shown within %lu s", size.sites, limitMs / 1000);
    double shown = bench::NowMs() - start;

    HWND list = GetDlgItem(dialog, IDC_SITE_LIST);
    int rows = driver::ListCount(list);
    if (rows != static_cast<int>(size.sites))
        bench::Fail("Preferences showed %d rows of %u", rows, size.sites);
    if (driver::ListText(list, 0, 0) != size.firstLabel || driver::ListText(list, rows - 1, 0) != size.lastLabel)
        bench::Fail("the rows of %u sites are not in the list's ascending order", size.sites);

    start = bench::NowMs();
    driver::Click(dialog, IDOK);
    DWORD code = process.WaitForExit(limitMs);
    double ok = bench::NowMs() - start;
    if (code != 0)
        bench::Fail("halvane.exe did not end with 0 after OK (%lu, %u sites)", code, size.sites);
    if (StoredValueCount() != size.sites)
        bench::Fail("OK left %u of %u sites in the key", StoredValueCount(), size.sites);
    size.shown.push_back(shown);
    size.ok.push_back(ok);
}

std::vector<uint32_t> SizesOption(int argc, wchar_t** argv, bool quick)
{
    std::vector<uint32_t> sizes = quick ? std::vector<uint32_t>{300, 3000, 30000}
                                        : std::vector<uint32_t>{1000, 10000, 100000};
    for (int i = 1; i + 1 < argc; ++i) {
        if (wcscmp(argv[i], L"--sizes") == 0) {
            sizes.clear();
            for (wchar_t* part = argv[i + 1]; *part;) {
                wchar_t* end = nullptr;
                sizes.push_back(static_cast<uint32_t>(wcstoul(part, &end, 10)));
                part = *end ? end + 1 : end;
            }
        }
    }
    return sizes;
}

std::string Figures(const std::vector<Size>& sizes, std::vector<double> Size::*figure)
{
    std::string text;
    for (const Size& size : sizes)
        text += bench::Format("%s%u %.0f", text.empty() ? "" : " / ", size.sites, bench::Median(size.*figure));
    return text + " ms";
}

// Growth over each step, and whether every step is within the target.
std::string Growth(const std::vector<Size>& sizes, std::vector<double> Size::*figure, bool* met)
{
    std::string text;
    *met = true;
    for (size_t k = 1; k < sizes.size(); ++k) {
        double growth = bench::Median(sizes[k].*figure) / bench::Median(sizes[k - 1].*figure);
        *met = *met && growth <= kGrowthTarget;
        text += bench::Format("%s%u/%u %.2fx", text.empty() ? "" : ", ", sizes[k].sites, sizes[k - 1].sites, growth);
    }
    return text;
}

}  // namespace

static int Measure(int argc, wchar_t** argv)
{
    bool quick = bench::Flag(argc, argv, L"--quick");
    int rounds = bench::IntOption(argc, argv, L"--rounds", quick ? 1 : 3);
    DWORD limitMs = static_cast<DWORD>(bench::IntOption(argc, argv, L"--limit", 120)) * 1000;
    std::vector<Size> sizes;
    int runs = 3;
    for (uint32_t sites : SizesOption(argc, argv, quick)) {
        sizes.push_back({sites, runs, {}, {}, {}, {}});
        runs = runs > 1 ? runs - 1 : 1;
    }
    if (sizes.size() < 2)
        bench::Fail("--sizes needs at least two sizes");

    for (int round = 0; round < rounds; ++round) {
        for (size_t k = 0; k < sizes.size(); ++k) {
            Size& size = sizes[(k + static_cast<size_t>(round)) % sizes.size()];
            Seed(size);
            for (int run = 0; run < size.runsPerRound; ++run)
                MeasureRun(size, limitMs);
        }
    }
    driver::DeleteDecisionsKey();

    for (const Size& size : sizes) {
        bench::Say("%6u sites: start->Preferences shown %s", size.sites, bench::Spread(size.shown).c_str());
        bench::Say("%6u sites: OK->exit               %s", size.sites, bench::Spread(size.ok).c_str());
    }
    bool shownGrowthMet = false, okGrowthMet = false;
    std::string shownGrowth = Growth(sizes, &Size::shown, &shownGrowthMet);
    std::string okGrowth = Growth(sizes, &Size::ok, &okGrowthMet);
    const Size& largest = sizes.back();
    bool judgedLargest = largest.sites == 100000;
    bool largestMet = !judgedLargest || bench::Median(largest.shown) < kShownTargetMs;
    bench::Say("start->Preferences shown: %s; growth %s (target <= %.0fx per step%s)",
               Figures(sizes, &Size::shown).c_str(), shownGrowth.c_str(), kGrowthTarget,
               judgedLargest ? ", 100k under 15 s" : "");
    bench::Say("Preferences OK->exit:     %s; growth %s (target <= %.0fx per step)", Figures(sizes, &Size::ok).c_str(),
               okGrowth.c_str(), kGrowthTarget);
    bench::Summary("start->Preferences shown with all rows", Figures(sizes, &Size::shown), "growth", shownGrowth,
                   bench::Format("<= %.0fx per step%s", kGrowthTarget, judgedLargest ? ", 100k < 15 s" : ""),
                   shownGrowthMet && largestMet);
    bench::Summary("Preferences OK->exit (list destroyed, table saved)", Figures(sizes, &Size::ok), "growth", okGrowth,
                   bench::Format("<= %.0fx per step", kGrowthTarget), okGrowthMet);
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    return bench::Guarded([&] { return Measure(argc, argv); });
}
