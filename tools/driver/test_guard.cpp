// Linked into every Windows-side test program: no test can leave a process for
// the next, and a test that hangs is stopped and tells why.
//
// Under Wine a program a test starts is a process of its own, which outlives
// the test program when CTest kills it at its time limit; a halvane.exe left
// so keeps the single-instance mutex, and every later start ends at once. So
// before the program's tests, whatever the tests start that is running is
// ended and named on a "leftover: " line, however it was left; after each
// test, whatever still runs fails that test and is ended and named too.
//
// A test that runs past kTestLimitMs, below CTest's 120 s, is stopped by the
// program itself: it says on "watchdog: " lines what the test was waiting for
// and which of Halvane's windows exist and answer, ends what the tests start,
// and ends the program with a failure, so only that test fails.
#include "driver.h"

#include <gtest/gtest.h>
#include <windows.h>

#include <stdio.h>

#include <set>
#include <string>
#include <vector>

namespace {

const DWORD kTestLimitMs = 100000;
// How long a window may take to answer the watchdog's WM_NULL.
const DWORD kAnswerMs = 1000;

std::string Narrow(const wchar_t* text)
{
    char narrow[512] = {};
    WideCharToMultiByte(CP_UTF8, 0, text, -1, narrow, sizeof(narrow) - 1, nullptr, nullptr);
    return narrow;
}

unsigned long long Handle(HWND window)
{
    return reinterpret_cast<ULONG_PTR>(window);
}

BOOL CALLBACK CollectWindow(HWND window, LPARAM param)
{
    reinterpret_cast<std::vector<HWND>*>(param)->push_back(window);
    return TRUE;
}

// Every top-level window of the processes the tests start, visible or not,
// each with whether its thread answers. A thread that did not answer is not
// asked again for its other windows, so a hung Halvane costs one wait.
void DescribeWindows()
{
    std::vector<HWND> windows;
    EnumWindows(CollectWindow, reinterpret_cast<LPARAM>(&windows));
    std::set<DWORD> silentThreads;
    int shown = 0;
    for (HWND window : windows) {
        DWORD processId = 0, thread = GetWindowThreadProcessId(window, &processId);
        if (!driver::IsTestsOwn(processId))
            continue;
        // Neither the class nor the title takes a message: a hung window cannot hold them up.
        wchar_t className[256] = {}, title[256] = {};
        GetClassNameW(window, className, 256);
        InternalGetWindowText(window, title, 256);
        const char* answer = "does not answer (its thread did not)";
        if (!silentThreads.count(thread)) {
            DWORD_PTR ignored = 0;
            bool answered = SendMessageTimeoutW(window, WM_NULL, 0, 0, SMTO_NORMAL, kAnswerMs, &ignored) != 0;
            answer = answered ? "answers" : "does not answer within 1 s";
            if (!answered)
                silentThreads.insert(thread);
        }
        printf("watchdog: window 0x%llx of process 0x%lx: class \"%s\", title \"%s\", owner 0x%llx, %s, %s, %s\n",
               Handle(window), processId, Narrow(className).c_str(), Narrow(title).c_str(),
               Handle(GetWindow(window, GW_OWNER)), IsWindowVisible(window) ? "visible" : "hidden",
               IsWindowEnabled(window) ? "enabled" : "disabled", answer);
        ++shown;
    }
    if (!shown)
        printf("watchdog: none of the processes the tests start has a window\n");
}

class TestGuard : public testing::EmptyTestEventListener {
public:
    void OnTestProgramStart(const testing::UnitTest&) override
    {
        driver::EndLeftovers("was running before this program's tests");
    }

    void OnTestStart(const testing::TestInfo& test) override
    {
        name_ = std::string(test.test_suite_name()) + "." + test.name();
        testEnded_ = CreateEventW(nullptr, TRUE, FALSE, nullptr);
        watchdog_ = testEnded_ ? CreateThread(nullptr, 0, Watch, this, 0, nullptr) : nullptr;
    }

    // Called before the test's result is final: a failure added here is the test's.
    void OnTestEnd(const testing::TestInfo&) override
    {
        if (watchdog_) {
            SetEvent(testEnded_);
            WaitForSingleObject(watchdog_, INFINITE);  // it has seen the event or is ending the program
            CloseHandle(watchdog_);
            watchdog_ = nullptr;
        }
        if (testEnded_)
            CloseHandle(testEnded_);
        testEnded_ = nullptr;
        std::vector<std::string> left = driver::EndLeftovers("was left running by " + name_);
        std::string names;
        for (const std::string& name : left)
            names += (names.empty() ? "" : ", ") + name;
        if (!left.empty())
            ADD_FAILURE() << "left running: " << names;
    }

private:
    static DWORD WINAPI Watch(void* param)
    {
        auto* self = static_cast<TestGuard*>(param);
        if (WaitForSingleObject(self->testEnded_, kTestLimitMs) == WAIT_OBJECT_0)
            return 0;
        self->Stop();
        return 0;
    }

    void Stop()
    {
        printf("\nwatchdog: %s ran past %lu s; stopping it\n", name_.c_str(), kTestLimitMs / 1000);
        std::string waits = driver::CurrentWaits();
        printf("watchdog: it was waiting for %s\n", waits.empty() ? "nothing of the driver's" : waits.c_str());
        DescribeWindows();
        fflush(stdout);
        driver::EndLeftovers("was running when the watchdog stopped " + name_);
        printf("[  FAILED  ] %s (stopped by the watchdog)\n", name_.c_str());
        fflush(stdout);
        fflush(stderr);
        // The test's own thread is stuck: unwinding it is not possible, so the program ends here.
        TerminateProcess(GetCurrentProcess(), 3);
    }

    std::string name_;
    HANDLE testEnded_ = nullptr;
    HANDLE watchdog_ = nullptr;
};

// Registered before main: GoogleTest's own main is linked into the test programs.
const bool kRegistered = [] {
    testing::UnitTest::GetInstance()->listeners().Append(new TestGuard);
    return true;
}();

}  // namespace
