// What every benchmark driver shares: a clock, order statistics, the options
// and the way a result is printed (a readable line, plus a "@summary" line
// that scripts/bench gathers into its table).
#ifndef HALVANE_BENCH_COMMON_H
#define HALVANE_BENCH_COMMON_H

#include <windows.h>

#include "driver.h"

#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <wchar.h>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

namespace bench {

// Milliseconds on the performance counter (Wine backs it with a monotonic clock).
inline double NowMs()
{
    static LARGE_INTEGER frequency = [] {
        LARGE_INTEGER f;
        QueryPerformanceFrequency(&f);
        return f;
    }();
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return 1000.0 * static_cast<double>(now.QuadPart) / static_cast<double>(frequency.QuadPart);
}

// Nearest-rank percentile, p in [0, 100]; the median is the mean of the middle
// two for an even count.
inline double Percentile(std::vector<double> values, double p)
{
    if (values.empty())
        return 0.0;
    std::sort(values.begin(), values.end());
    if (p == 50.0) {
        size_t n = values.size();
        return n % 2 ? values[n / 2] : (values[n / 2 - 1] + values[n / 2]) / 2.0;
    }
    size_t rank = static_cast<size_t>(p / 100.0 * static_cast<double>(values.size() - 1) + 0.5);
    return values[std::min(rank, values.size() - 1)];
}

inline double Median(const std::vector<double>& values)
{
    return Percentile(values, 50.0);
}

// "median 48.1 ms (min 44.0, p25 46.2, p75 50.3, max 71.9, n 60)"
inline std::string Spread(const std::vector<double>& values, const char* unit = "ms")
{
    char line[200];
    snprintf(line, sizeof(line), "median %.2f %s (min %.2f, p25 %.2f, p75 %.2f, max %.2f, n %u)", Median(values), unit,
             Percentile(values, 0), Percentile(values, 25), Percentile(values, 75), Percentile(values, 100),
             static_cast<unsigned>(values.size()));
    return line;
}

inline void Say(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    vprintf(format, args);
    va_end(args);
    printf("\n");
    fflush(stdout);
}

// One row of the summary table: what was measured, its figure, the baseline
// figure, their ratio (or another derived figure), the target and whether it
// was met. Fields must not contain '|'.
inline void Summary(const char* benchmark, const std::string& figure, const std::string& baseline,
                    const std::string& ratio, const std::string& target, bool met)
{
    printf("@summary|%s|%s|%s|%s|%s|%s\n", benchmark, figure.c_str(), baseline.c_str(), ratio.c_str(), target.c_str(),
           met ? "met" : "MISSED");
    fflush(stdout);
}

inline std::string Format(const char* format, ...)
{
    char text[256];
    va_list args;
    va_start(args, format);
    vsnprintf(text, sizeof(text), format, args);
    va_end(args);
    return text;
}

// A benchmark that cannot measure what it should says why and ends with 1, so
// that scripts/bench reports it instead of printing a figure that means nothing.
// Fail unwinds (to Guarded, below) so that every ScopedProcess and stand-in
// window on the way is ended and closed.
struct Failure {};

[[noreturn]] inline void Fail(const char* format, ...)
{
    va_list args;
    va_start(args, format);
    printf("FAILED: ");
    vprintf(format, args);
    va_end(args);
    printf("\n");
    fflush(stdout);
    throw Failure();
}

// Each benchmark's wmain: runs it, and turns a Fail into the exit code 1.
template <typename Benchmark>
int Guarded(Benchmark benchmark)
{
    try {
        return benchmark();
    } catch (const Failure&) {
        return 1;
    }
}

// Runs each measurement `reps` times, interleaved and in a rotating order, so
// that a change in the machine's load during the run falls on all alike.
// Returns the times of each measurement, in the order given.
inline std::vector<std::vector<double>> Interleave(int reps, const std::vector<std::function<double()>>& measure)
{
    std::vector<std::vector<double>> times(measure.size());
    for (int r = 0; r < reps; ++r) {
        for (size_t k = 0; k < measure.size(); ++k) {
            size_t which = (k + static_cast<size_t>(r)) % measure.size();
            times[which].push_back(measure[which]());
        }
    }
    return times;
}

// The median of the per-round ratios a[i] / b[i]: steadier than the ratio of
// medians when the load drifts, since both of a round ran close together.
inline double MedianRatio(const std::vector<double>& a, const std::vector<double>& b)
{
    std::vector<double> ratios;
    for (size_t i = 0; i < a.size() && i < b.size(); ++i)
        ratios.push_back(a[i] / b[i]);
    return Median(ratios);
}

// "--name N" among the arguments, or the fallback.
// The first dialog of a process started at `startMs`, or null once the process
// has ended or limitMs has passed. Polls finely at first and more coarsely
// later: the run shares the CPU with the program, and a busy poll would slow
// down what it measures.
inline HWND WaitForFirstDialog(const driver::ScopedProcess& process, double startMs, double limitMs)
{
    for (;;) {
        std::vector<HWND> dialogs = driver::DialogsOf(process.id());
        if (!dialogs.empty())
            return dialogs.front();
        double elapsed = NowMs() - startMs;
        if (process.WaitForExit(0) != STILL_ACTIVE || elapsed > limitMs)
            return nullptr;
        Sleep(elapsed < 100 ? 1 : elapsed < 2000 ? 5 : 20);
    }
}

inline int IntOption(int argc, wchar_t** argv, const wchar_t* name, int fallback)
{
    for (int i = 1; i + 1 < argc; ++i) {
        if (wcscmp(argv[i], name) == 0)
            return _wtoi(argv[i + 1]);
    }
    return fallback;
}

inline bool Flag(int argc, wchar_t** argv, const wchar_t* name)
{
    for (int i = 1; i < argc; ++i) {
        if (wcscmp(argv[i], name) == 0)
            return true;
    }
    return false;
}

}  // namespace bench

#endif
