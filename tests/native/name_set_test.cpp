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

TEST_F(NameSetTest, ContainsExactlyTheNamesItsFoldMakesEqual)
{
    const struct {
        CharacterFold fold;
        std::vector<const wchar_t*> added, present, absent;
        uint32_t count;
    } rows[] = {
        {FoldAsciiCase, {}, {}, {L"", L"site1"}, 0},
        // Absent names include prefixes and extensions of present ones.
        {FoldAsciiCase, {L"alphasite", L"\u00E4bcsite"}, {L"alphasite", L"AlphaSITE", L"\u00E4BCSITE"},
         {L"\u00C4bcsite", L"alpha", L"alphasite2", L"", L"betasite"}, 2},
        {FoldUpperWithUmlaut, {L"\u00E4bcsite"}, {L"\u00C4BCSITE", L"\u00C4bcsite"}, {L"abcsite", L"\u00D6bcsite"}, 1},
        // An equal name counts once.
        {FoldAsciiCase, {L"site1", L"SITE1", L"site1"}, {L"Site1"}, {}, 1},
    };
    for (const auto& row : rows) {
        FreeNameSet(&set);
        InitNameSet(&set, 4, row.fold);
        for (const wchar_t* name : row.added)
            AddName(&set, name);
        for (const wchar_t* name : row.present)
            EXPECT_TRUE(ContainsName(&set, name)) << testing::PrintToString(std::wstring(name));
        for (const wchar_t* name : row.absent)
            EXPECT_FALSE(ContainsName(&set, name)) << testing::PrintToString(std::wstring(name));
        EXPECT_EQ(set.count, row.count);
    }
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
