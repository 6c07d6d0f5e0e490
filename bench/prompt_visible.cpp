// Benchmark: from CreateProcess of `halvane.exe en unknown.example T` until
// its consent prompt is visible, against a program that shows one empty
// template dialog with the same frame and nothing else. Each dialog is found
// by polling for a visible #32770 window of the process in 1 ms steps, then
// closed the way its close box would close it, and the process must end with 0.
//
// A second, informative baseline loads the common controls before its dialog,
// as halvane.exe does before its prompt.
//
//   halvane_bench_prompt_visible [--reps N]   (default 40 of each, interleaved)
#include "bench_common.h"
#include "driver.h"

namespace {

const wchar_t kUnknownTail[] = L"en unknown.example T";

double TimeOnePrompt(const std::wstring& exe, const wchar_t* tail)
{
    double start = bench::NowMs();
    driver::ScopedProcess process(driver::Launch(tail, exe));
    if (!process.get().handle)
        bench::Fail("cannot start %ls (error %lu)", exe.c_str(), GetLastError());
    HWND dialog = bench::WaitForFirstDialog(process, start, 10000);
    if (!dialog && process.WaitForExit(0) != STILL_ACTIVE)
        bench::Fail("%ls %ls ended without showing a dialog", exe.c_str(), tail);
    if (!dialog)
        bench::Fail("%ls %ls showed no dialog within 10 s", exe.c_str(), tail);
    double elapsed = bench::NowMs() - start;

    PostMessageW(dialog, WM_CLOSE, 0, 0);
    DWORD code = process.WaitForExit(10000);
    if (code != 0)
        bench::Fail("%ls %ls did not end with 0 after its dialog was closed (%lu)", exe.c_str(), tail, code);
    return elapsed;
}

}  // namespace

static int Measure(int argc, wchar_t** argv)
{
    int reps = bench::IntOption(argc, argv, L"--reps", 40);
    std::wstring halvane = driver::ProgramPath(L"halvane.exe");
    std::wstring bare = driver::ProgramPath(L"halvane_bench_bare_dialog.exe");
    std::wstring bareComctl = driver::ProgramPath(L"halvane_bench_bare_dialog_comctl.exe");

    driver::DeleteDecisionsKey();
    std::vector<std::function<double()>> measure = {
        [&] { return TimeOnePrompt(halvane, kUnknownTail); },
        [&] { return TimeOnePrompt(bare, L""); },
        [&] { return TimeOnePrompt(bareComctl, L""); },
    };
    bench::Interleave(3, measure);  // warms the file cache and the server
    std::vector<std::vector<double>> times = bench::Interleave(reps, measure);
    // A cancelled prompt remembers nothing.
    if (!driver::ReadDecisionsKey().empty())
        bench::Fail("the cancelled prompts left decisions in the registry");
    const std::vector<double>& halvaneTimes = times[0];
    const std::vector<double>& bareTimes = times[1];
    const std::vector<double>& comctlTimes = times[2];

    double ratio = bench::Median(halvaneTimes) / bench::Median(bareTimes);
    bench::Say("halvane.exe en unknown.example T, prompt visible: %s", bench::Spread(halvaneTimes).c_str());
    bench::Say("bare template dialog visible:                     %s", bench::Spread(bareTimes).c_str());
    bench::Say("bare dialog after InitCommonControlsEx:           %s", bench::Spread(comctlTimes).c_str());
    bench::Say("per-round ratios (median): halvane/bare %.2fx, halvane/bare-with-comctl32 %.2fx, "
               "bare-with-comctl32/bare %.2fx",
               bench::MedianRatio(halvaneTimes, bareTimes), bench::MedianRatio(halvaneTimes, comctlTimes),
               bench::MedianRatio(comctlTimes, bareTimes));
    bench::Say("start->prompt visible: %.1f ms vs bare dialog %.1f ms = %.2fx (target <= 1.20x); "
               "vs bare dialog with common controls %.1f ms = %.2fx",
               bench::Median(halvaneTimes), bench::Median(bareTimes), ratio, bench::Median(comctlTimes),
               bench::Median(halvaneTimes) / bench::Median(comctlTimes));
    bench::Summary("start->prompt visible", bench::Format("%.1f ms", bench::Median(halvaneTimes)),
                   bench::Format("bare dialog %.1f ms (with comctl32 %.1f)", bench::Median(bareTimes),
                                 bench::Median(comctlTimes)),
                   bench::Format("%.2fx (%.2fx)", ratio, bench::Median(halvaneTimes) / bench::Median(comctlTimes)),
                   "<= 1.20x", ratio <= 1.20);
    return 0;
}

int wmain(int argc, wchar_t** argv)
{
    return bench::Guarded([&] { return Measure(argc, argv); });
}
