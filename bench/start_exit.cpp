// Benchmark: start->exit of halvane.exe on a remembered Deny, against a
// do-nothing static GUI program, both timed from CreateProcess until the
// process has ended. A remembered Deny is the shortest road through the
// program (mutex, registry load, command line, language, one lookup), so the
// ratio shows what the program adds to a bare start.
//
// A second, informative baseline imports the same system DLLs as halvane.exe
// and does nothing either: the difference between the two baselines is the
// platform's price for those DLLs, the rest is the program's own work.
//
// The floor is a third baseline: a program that does only what answering a
// remembered Deny requires (load ADVAPI32, open the decisions key, read the
// site's value) and then exits. halvane.exe's ratio against it is what the
// program spends beyond that.
//
// With --policy N, the machine's policy key holds N entries (half allowed,
// half blocked, as Group Policy writes them, none of them the site's) for the
// whole run: halvane.exe reads them all at each start, the floor none.
//
//   halvane_bench_start_exit [--reps N] [--policy N]   (default 60 of each, interleaved; no policy)
#include "bench_common.h"
#include "driver.h"
#include "policy/policy_keys.h"

namespace {

const wchar_t kDeniedTail[] = L"en example.org T";

// One start of exe, timed until it has ended; fails the benchmark on a hang or
// an unexpected exit code, since either would make the figure meaningless.
double TimeOneStart(const std::wstring& exe, const wchar_t* tail)
{
    double start = bench::NowMs();
    driver::ScopedProcess process(driver::Launch(tail, exe));
    if (!process.get().handle)
        bench::Fail("cannot start %ls (error %lu)", exe.c_str(), GetLastError());
    DWORD code = process.WaitForExit(10000);
    double elapsed = bench::NowMs() - start;
    if (code == STILL_ACTIVE)
        bench::Fail("%ls %ls did not end within 10 s (a prompt instead of the remembered Deny?)", exe.c_str(), tail);
    if (code != 0)
        bench::Fail("%ls %ls ended with %lu, expected 0", exe.c_str(), tail, code);
    return elapsed;
}

// HKLM's policy key with `entries` entries, in the registry's native view,
// where Group Policy writes it; or, with 0, no policy key.
void SetMachinePolicy(int entries)
{
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, POLICY_KEY_PATH L"\\" POLICY_ALLOWED_SITES, KEY_WOW64_64KEY, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, POLICY_KEY_PATH L"\\" POLICY_BLOCKED_SITES, KEY_WOW64_64KEY, 0);
    RegDeleteKeyExW(HKEY_LOCAL_MACHINE, POLICY_KEY_PATH, KEY_WOW64_64KEY, 0);
    for (int i = 0; i < entries; ++i) {
        bool allowed = i % 2 == 0;
        std::wstring list = std::wstring(POLICY_KEY_PATH L"\\") + (allowed ? POLICY_ALLOWED_SITES : POLICY_BLOCKED_SITES);
        std::wstring entry = (allowed ? L"[*.]team" : L"host") + std::to_wstring(i) + L".example.com";
        std::wstring name = std::to_wstring(i / 2 + 1);
        HKEY key;
        if (RegCreateKeyExW(HKEY_LOCAL_MACHINE, list.c_str(), 0, nullptr, 0, KEY_SET_VALUE | KEY_WOW64_64KEY, nullptr,
                            &key, nullptr) != ERROR_SUCCESS)
            bench::Fail("cannot write the machine's policy key (error %lu)", GetLastError());
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(entry.c_str()),
                       DWORD((entry.size() + 1) * sizeof(wchar_t)));
        RegCloseKey(key);
    }
}

}  // namespace

static int Measure(int argc, wchar_t** argv)
{
    int reps = bench::IntOption(argc, argv, L"--reps", 60);
    int policyEntries = bench::IntOption(argc, argv, L"--policy", 0);
    std::wstring halvane = driver::ProgramPath(L"halvane.exe");
    std::wstring bare = driver::ProgramPath(L"halvane_bench_bare.exe");
    std::wstring bareImports = driver::ProgramPath(L"halvane_bench_bare_imports.exe");
    std::wstring floor = driver::ProgramPath(L"halvane_bench_bare_registry.exe");

    driver::DeleteDecisionsKey();
    driver::WriteDword(L"example.org", 0);
    SetMachinePolicy(policyEntries);
    if (policyEntries)
        bench::Say("the machine's policy holds %d entries, none of them example.org's", policyEntries);

    std::vector<std::function<double()>> measure = {
        [&] { return TimeOneStart(halvane, kDeniedTail); },
        [&] { return TimeOneStart(bare, L""); },
        [&] { return TimeOneStart(bareImports, L""); },
        [&] { return TimeOneStart(floor, L"example.org"); },
    };
    bench::Interleave(3, measure);  // warms the file cache and the server
    std::vector<std::vector<double>> times = bench::Interleave(reps, measure);
    driver::DeleteDecisionsKey();
    SetMachinePolicy(0);
    const std::vector<double>& halvaneTimes = times[0];
    const std::vector<double>& bareTimes = times[1];
    const std::vector<double>& importTimes = times[2];
    const std::vector<double>& floorTimes = times[3];

    double ratio = bench::Median(halvaneTimes) / bench::Median(bareTimes);
    bench::Say("halvane.exe en example.org T (remembered Deny): %s", bench::Spread(halvaneTimes).c_str());
    bench::Say("bare static GUI exe:                            %s", bench::Spread(bareTimes).c_str());
    bench::Say("bare exe with halvane.exe's DLL imports:        %s", bench::Spread(importTimes).c_str());
    bench::Say("floor: opens the key, reads the site's value:   %s", bench::Spread(floorTimes).c_str());
    bench::Say("per-round ratios (median): halvane/bare %.2fx, halvane/bare-with-imports %.2fx, "
               "bare-with-imports/bare %.2fx, halvane/floor %.2fx",
               bench::MedianRatio(halvaneTimes, bareTimes), bench::MedianRatio(halvaneTimes, importTimes),
               bench::MedianRatio(importTimes, bareTimes), bench::MedianRatio(halvaneTimes, floorTimes));
    bench::Say("start->exit (remembered Deny): %.1f ms vs bare exe %.1f ms = %.2fx (target <= 1.10x); "
               "vs bare exe with the same imports %.1f ms = %.2fx",
               bench::Median(halvaneTimes), bench::Median(bareTimes), ratio, bench::Median(importTimes),
               bench::Median(halvaneTimes) / bench::Median(importTimes));
    bench::Summary("start->exit, remembered Deny", bench::Format("%.1f ms", bench::Median(halvaneTimes)),
                   bench::Format("bare exe %.1f ms (same imports %.1f)", bench::Median(bareTimes),
                                 bench::Median(importTimes)),
                   bench::Format("%.2fx (%.2fx)", ratio, bench::Median(halvaneTimes) / bench::Median(importTimes)),
                   "<= 1.10x", ratio <= 1.10);
    double floorRatio = bench::Median(halvaneTimes) / bench::Median(floorTimes);
    bench::Say("start->exit (remembered Deny) vs the floor %.1f ms = %.2fx (target <= 1.05x)", bench::Median(floorTimes),
               floorRatio);
    bench::Summary("start->exit, remembered Deny, vs floor", bench::Format("%.1f ms", bench::Median(halvaneTimes)),
                   bench::Format("key read alone %.1f ms", bench::Median(floorTimes)),
                   bench::Format("%.2fx", floorRatio), "<= 1.05x", floorRatio <= 1.05);
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    return bench::Guarded([&] { return Measure(argc, argv); });
}
