// driver::Launch, the one way the tests, tools and benchmarks start a program,
// with a CreateProcessW that refuses on purpose as Wine does under load: only
// Wine's own refusal (error 1359) is tried again, and each retry is announced.
#include "driver.h"

#include <gtest/gtest.h>

#include <string>

namespace {

int refusals;     // starts refused before the real call is made
DWORD refusal;    // the error they give
int calls;

BOOL WINAPI Refusing(LPCWSTR application, LPWSTR commandLine, LPSECURITY_ATTRIBUTES processAttributes,
                     LPSECURITY_ATTRIBUTES threadAttributes, BOOL inherit, DWORD flags, LPVOID environment,
                     LPCWSTR directory, LPSTARTUPINFOW startup, LPPROCESS_INFORMATION info)
{
    if (++calls <= refusals) {
        SetLastError(refusal);
        return FALSE;
    }
    return CreateProcessW(application, commandLine, processAttributes, threadAttributes, inherit, flags, environment,
                          directory, startup, info);
}

int RetryLines(const std::string& text)
{
    int lines = 0;
    for (size_t at = text.find("launch-retry: "); at != std::string::npos; at = text.find("launch-retry: ", at + 1))
        ++lines;
    return lines;
}

struct LaunchCase {
    const char* name;
    int refusals;
    DWORD refusal;
    int calls;         // CreateProcessW calls made
    bool started;
    DWORD lastError;   // when not started
};

TEST(Launch, TriesAgainOnlyAStartWineRefused)
{
    const LaunchCase cases[] = {
        {"refused twice, then started", 2, ERROR_INTERNAL_ERROR, 3, true, 0},
        {"refused every time", 9, ERROR_INTERNAL_ERROR, 3, false, ERROR_INTERNAL_ERROR},
        {"a failure of another kind", 9, ERROR_FILE_NOT_FOUND, 1, false, ERROR_FILE_NOT_FOUND},
    };
    for (const LaunchCase& c : cases) {
        SCOPED_TRACE(c.name);
        refusals = c.refusals;
        refusal = c.refusal;
        calls = 0;
        driver::createProcess = Refusing;
        testing::internal::CaptureStderr();
        driver::ScopedProcess halvane(driver::Launch(L""));
        DWORD error = GetLastError();
        std::string said = testing::internal::GetCapturedStderr();
        driver::createProcess = CreateProcessW;

        EXPECT_EQ(calls, c.calls);
        EXPECT_EQ(RetryLines(said), c.calls - 1) << said;
        ASSERT_EQ(halvane.id() != 0, c.started);
        if (c.started)
            EXPECT_EQ(halvane.WaitForExit(driver::kPatienceMs), static_cast<DWORD>(-1)) << "no tail: ends with -1";
        else
            EXPECT_EQ(error, c.lastError);
    }
}

}  // namespace
