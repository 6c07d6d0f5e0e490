// NameSet: the set of table domains that the save checks registry value names
// against. It must compare exactly as its fold says, or the save would delete a
// value it had just written (or keep a stale one).
#include "text/text.h"
#include "decisions/name_set.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Like the registry's own comparison: A-Z and also a-umlaut fold together.
wchar_t FoldUpperWithUmlaut(wchar_t c)
{
    if (c >= L'a' && c <= L'z')
        return static_cast<wchar_t>(c - (L'a' - L'A'));
    if (c == L'\u00E4')
        return L'\u00C4';
    return c;
}

class NameSetTest : public testing::Test {
protected:
    void TearDown() override { FreeNameSet(&set); }
    NameSet set{};
};

TEST_F(NameSetTest, EmptySetContainsNothing)
{
    InitNameSet(&set, 0, FoldAsciiCase);
    EXPECT_FALSE(ContainsName(&set, L""));
    EXPECT_FALSE(ContainsName(&set, L"site1"));
}

TEST_F(NameSetTest, AsciiFoldMatchesCaseVariantsButNotOtherLetters)
{
    InitNameSet(&set, 4, FoldAsciiCase);
    AddName(&set, L"alphasite");
    AddName(&set, L"\u00E4bcsite");

    EXPECT_TRUE(ContainsName(&set, L"alphasite"));
    EXPECT_TRUE(ContainsName(&set, L"AlphaSITE"));
    EXPECT_TRUE(ContainsName(&set, L"\u00E4BCSITE"));
    EXPECT_FALSE(ContainsName(&set, L"\u00C4bcsite"));
    // Absent names, including prefixes and extensions of present ones.
    EXPECT_FALSE(ContainsName(&set, L"alpha"));
    EXPECT_FALSE(ContainsName(&set, L"alphasite2"));
    EXPECT_FALSE(ContainsName(&set, L""));
    EXPECT_FALSE(ContainsName(&set, L"betasite"));
}

TEST_F(NameSetTest, WiderFoldAlsoMatchesItsOwnLetters)
{
    InitNameSet(&set, 4, FoldUpperWithUmlaut);
    AddName(&set, L"\u00E4bcsite");
    EXPECT_TRUE(ContainsName(&set, L"\u00C4BCSITE"));
    EXPECT_TRUE(ContainsName(&set, L"\u00C4bcsite"));
    EXPECT_FALSE(ContainsName(&set, L"abcsite"));
    EXPECT_FALSE(ContainsName(&set, L"\u00D6bcsite"));
}

TEST_F(NameSetTest, AddingAnEqualNameCountsOnce)
{
    InitNameSet(&set, 2, FoldAsciiCase);
    AddName(&set, L"site1");
    AddName(&set, L"SITE1");
    AddName(&set, L"site1");
    EXPECT_EQ(set.count, 1u);
    EXPECT_TRUE(ContainsName(&set, L"Site1"));
}

TEST_F(NameSetTest, GrowsFarPastItsInitialCapacity)
{
    // Sized for none, then given thousands: every name must survive each rehash.
    for (CharacterFold fold : {FoldAsciiCase, FoldUpperWithUmlaut}) {
        FreeNameSet(&set);
        InitNameSet(&set, 0, fold);
        std::vector<std::wstring> names;  // the set does not own its names
        names.reserve(5000);
        for (int i = 0; i < 5000; ++i)
            names.push_back(L"Site-" + std::to_wstring(i) + L".example");
        for (const std::wstring& name : names)
            AddName(&set, name.c_str());

        EXPECT_EQ(set.count, 5000u);
        EXPECT_GE(set.capacity, 2 * set.count);  // keeps probe chains short and always ends them
        for (int i = 0; i < 5000; ++i) {
            std::wstring upper = L"SITE-" + std::to_wstring(i) + L".EXAMPLE";
            ASSERT_TRUE(ContainsName(&set, upper.c_str())) << i;
        }
        for (int i = 5000; i < 10000; ++i) {
            std::wstring absent = L"site-" + std::to_wstring(i) + L".example";
            ASSERT_FALSE(ContainsName(&set, absent.c_str())) << i;
        }
        EXPECT_FALSE(ContainsName(&set, L"site-1.exampl"));
        EXPECT_FALSE(ContainsName(&set, L"ite-1.example"));
    }
}

TEST_F(NameSetTest, SizedUpFrontForTheExpectedNames)
{
    InitNameSet(&set, 1000, FoldAsciiCase);
    uint32_t capacity = set.capacity;
    EXPECT_GE(capacity, 2000u);
    EXPECT_EQ(capacity & (capacity - 1), 0u);  // a power of two: the probe masks with capacity - 1
    std::vector<std::wstring> names;
    for (int i = 0; i < 1000; ++i)
        names.push_back(std::to_wstring(i));
    for (const std::wstring& name : names)
        AddName(&set, name.c_str());
    EXPECT_EQ(set.capacity, capacity);  // no rehash while filling to the announced size
}

}  // namespace
