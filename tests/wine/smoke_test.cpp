#include "driver.h"

#include <gtest/gtest.h>

TEST(Smoke, EmptyCommandLineEndsWithMinusOne)
{
    driver::ScopedProcess halvane(driver::Launch(L""));
    EXPECT_EQ(halvane.WaitForExit(10000), 0xFFFFFFFFu);
}
