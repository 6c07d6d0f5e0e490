// Races against the real halvane.exe whose outcome holds whatever the timing:
// many copies started at once. (A retitle between the keeper's two searches is
// placed there by the keeper's own hook, in keeper_test.) Every process
// started is ended by its ScopedProcess.
#include "driver.h"
#include "ui/resource_ids.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

namespace {

using driver::kPatienceMs;
const std::wstring kTitle = L"Race Page";

class Race : public testing::Test {
protected:
    void SetUp() override { driver::DeleteDecisionsKey(); }
    void TearDown() override { driver::DeleteDecisionsKey(); }
};

// Started suspended and let go together, so that the copies reach the
// single-instance guard as nearly at once as the system allows.
std::vector<std::unique_ptr<driver::ScopedProcess>> StartTogether(int count, const std::wstring& tail)
{
    std::vector<std::unique_ptr<driver::ScopedProcess>> copies;
    std::vector<HANDLE> threads;
    for (int i = 0; i < count; ++i) {
        HANDLE thread = nullptr;
        copies.push_back(std::make_unique<driver::ScopedProcess>(
            driver::Launch(tail, driver::ProgramPath(), CREATE_SUSPENDED, &thread)));
        if (thread)
            threads.push_back(thread);
    }
    for (HANDLE thread : threads) {
        ResumeThread(thread);
        CloseHandle(thread);
    }
    return copies;
}

TEST_F(Race, TwentyCopiesStartedAtOnceAskOnceAndTheOthersEndWithZero)
{
    driver::WriteDword(L"other.org", 1);
    const driver::KeyContents before = driver::ReadDecisionsKey();
    auto copies = StartTogether(20, L"en site1 " + kTitle);
    for (const auto& copy : copies)
        ASSERT_NE(copy->id(), 0u);

    // Until all but one copy have ended, and that one shows its prompt.
    std::vector<driver::ScopedProcess*> left;
    size_t prompts = 0;
    driver::WaitUntil(
        [&] {
            left.clear();
            prompts = 0;
            for (const auto& copy : copies)
                if (copy->WaitForExit(0) == STILL_ACTIVE) {
                    left.push_back(copy.get());
                    prompts += driver::DialogsOf(copy->id()).size();
                }
            return left.size() <= 1 && prompts == 1;
        },
        2 * kPatienceMs);
    ASSERT_EQ(left.size(), 1u) << "prompts shown: " << prompts;
    driver::ScopedProcess& asking = *left.front();
    for (const auto& copy : copies) {
        if (copy.get() != &asking)
            EXPECT_EQ(copy->WaitForExit(0), 0u) << "copy " << copy->id();
    }

    HWND prompt = driver::WaitForDialog(asking.id(), kPatienceMs, L"Halvane");
    ASSERT_NE(prompt, nullptr);
    EXPECT_NE(GetDlgItem(prompt, IDC_ALWAYS), nullptr) << "not the consent prompt";
    EXPECT_EQ(driver::DialogsOf(asking.id()).size(), 1u);
    driver::Click(prompt, IDCANCEL);
    EXPECT_EQ(asking.WaitForExit(kPatienceMs), 0u);
    EXPECT_EQ(driver::ReadDecisionsKey(), before) << "a cancelled prompt stores nothing";
}

}  // namespace
