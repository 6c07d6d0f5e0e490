// The window keeper's decisions, driven through a recording fake of its
// platform calls. The fake holds a small world of windows; its sleep is where a
// scenario changes that world between passes (retitles, closes, opens windows).
#include "keeper/keeper_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace {

const wchar_t* const UiClass = L"MozillaUIWindowClass";
const wchar_t* const DialogClass = L"MozillaDialogClass";
const wchar_t* const WindowClass = L"MozillaWindowClass";

struct Call {
    enum Kind { Find, GetStyle, SetPos, Sleep, Look } kind;
    std::wstring className;
    std::wstring title;
    intptr_t window = 0;  // the fake's handle (1-based index); 0 for none
    intptr_t insertAfter = 0;
    uint32_t value = 0;  // flags of SetPos, milliseconds of Sleep

    bool operator==(const Call& other) const
    {
        return kind == other.kind && className == other.className && title == other.title &&
               window == other.window && insertAfter == other.insertAfter && value == other.value;
    }
};

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

std::ostream& operator<<(std::ostream& out, const Call& call)
{
    switch (call.kind) {
    case Call::Find:
        return out << "Find(" << Narrow(call.className) << ", \"" << Narrow(call.title) << "\")";
    case Call::GetStyle:
        return out << "GetStyle(#" << call.window << ")";
    case Call::SetPos:
        return out << "SetPos(#" << call.window << ", " << call.insertAfter << ", 0x" << std::hex << call.value
                   << std::dec << ")";
    case Call::Sleep:
        return out << "Sleep(" << call.value << ")";
    case Call::Look:
        return out << "Look()";
    }
    return out;
}

Call Find(const wchar_t* className, const std::wstring& title) { return {Call::Find, className, title}; }
Call GetStyle(intptr_t window) { return {Call::GetStyle, L"", L"", window}; }
Call Raise(intptr_t window) { return {Call::SetPos, L"", L"", window, -1, 0x43}; }
Call Lower(intptr_t window) { return {Call::SetPos, L"", L"", window, -2, 0x83}; }
Call LetGo(intptr_t window) { return {Call::SetPos, L"", L"", window, -2, 0x213}; }
Call Sleep() { return {Call::Sleep, L"", L"", 0, 0, 1000}; }
Call Look() { return {Call::Look, L"", L""}; }

struct FakeWindow {
    std::wstring className;
    std::wstring title;
    bool topmost = false;
    bool visible = true;
    bool open = true;
};

class FakeDesktop {
public:
    // Extended-style bits that are always set, to show that only WS_EX_TOPMOST counts.
    uint32_t otherStyleBits = 0x00000100;  // WS_EX_WINDOWEDGE

    intptr_t Open(const wchar_t* className, const std::wstring& title, bool topmost = false)
    {
        windows.push_back({className, title, topmost});
        return static_cast<intptr_t>(windows.size());
    }
    FakeWindow& Window(intptr_t handle) { return windows.at(static_cast<size_t>(handle - 1)); }
    void Close(intptr_t handle) { Window(handle).open = false; }
    void CloseAll()
    {
        for (FakeWindow& window : windows)
            window.open = false;
    }

    // Titles a window takes on one by one, each right after a search has looked
    // at the desktop: a browser retitling it in the middle of a pass.
    void RetitleDuringSearches(intptr_t handle, std::vector<std::wstring> titles)
    {
        retitled = handle;
        pendingTitles = std::move(titles);
    }

    // Called at each sleep with the number of the pass that just ended (1-based).
    // A scenario that never closes its windows is ended by force and fails.
    std::function<void(int pass)> betweenPasses = [](int) {};

    void Run(const std::wstring& title)
    {
        KeeperCalls calls = {this, &FindWindowThunk, &GetStyleThunk, &SetPosThunk, &SleepThunk, &ListThunk, &Fold};
        KeepWindowOnTopWith(title.c_str(), &calls);
    }

    std::vector<Call> calls;

private:
    static FakeDesktop* Self(void* context) { return static_cast<FakeDesktop*>(context); }

    // The system's search ignores letter case; A-Z stands in for its table here.
    static wchar_t Fold(wchar_t c) { return (c >= L'a' && c <= L'z') ? wchar_t(c - 0x20) : c; }
    static bool SameTitle(const std::wstring& a, const std::wstring& b)
    {
        return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(),
                                                  [](wchar_t x, wchar_t y) { return Fold(x) == Fold(y); });
    }

    static void* FindWindowThunk(void* context, const wchar_t* className, const wchar_t* title)
    {
        FakeDesktop* self = Self(context);
        self->calls.push_back(Find(className, title));
        void* found = nullptr;
        for (size_t i = 0; i < self->windows.size() && !found; ++i) {
            const FakeWindow& window = self->windows[i];
            if (window.open && window.className == className && SameTitle(window.title, title))
                found = reinterpret_cast<void*>(i + 1);
        }
        if (!self->pendingTitles.empty()) {
            self->Window(self->retitled).title = self->pendingTitles.front();
            self->pendingTitles.erase(self->pendingTitles.begin());
        }
        return found;
    }

    // Every open window, its title cut as the platform cuts it: at most
    // capacity - 1 units and a terminator.
    static void ListThunk(void* context, wchar_t* title, uint32_t capacity, KeeperVisit visit, void* visitContext)
    {
        FakeDesktop* self = Self(context);
        self->calls.push_back(Look());
        for (size_t i = 0; i < self->windows.size(); ++i) {
            const FakeWindow& window = self->windows[i];
            if (!window.open)
                continue;
            size_t length = std::min<size_t>(window.title.size(), capacity - 1);
            std::copy(window.title.begin(), window.title.begin() + length, title);
            title[length] = L'\0';
            visit(visitContext, reinterpret_cast<void*>(i + 1), window.className.c_str(), title);
        }
    }

    static uint32_t GetStyleThunk(void* context, void* handle)
    {
        FakeDesktop* self = Self(context);
        intptr_t window = reinterpret_cast<intptr_t>(handle);
        self->calls.push_back(GetStyle(window));
        return self->otherStyleBits | (self->Window(window).topmost ? 0x8u : 0u);
    }

    static void SetPosThunk(void* context, void* handle, intptr_t insertAfter, uint32_t flags)
    {
        FakeDesktop* self = Self(context);
        intptr_t window = reinterpret_cast<intptr_t>(handle);
        self->calls.push_back({Call::SetPos, L"", L"", window, insertAfter, flags});
        FakeWindow& target = self->Window(window);
        if (insertAfter == -1)
            target.topmost = true;
        else if (insertAfter == -2)
            target.topmost = false;
        if (flags & 0x40)
            target.visible = true;
        if (flags & 0x80)
            target.visible = false;
    }

    static void SleepThunk(void* context, uint32_t milliseconds)
    {
        FakeDesktop* self = Self(context);
        self->calls.push_back({Call::Sleep, L"", L"", 0, 0, milliseconds});
        int pass = ++self->passes;
        self->betweenPasses(pass);
        if (pass >= 50) {
            ADD_FAILURE() << "the scenario never let the keeper return";
            self->CloseAll();
        }
    }

    std::vector<FakeWindow> windows;
    int passes = 0;
    intptr_t retitled = 0;
    std::vector<std::wstring> pendingTitles;
};

TEST(Keeper, WithoutAnyWindowSearchesEveryClassLooksOnceAndReturnsWithoutSleeping)
{
    FakeDesktop desktop;
    desktop.Open(UiClass, L"Other page");
    desktop.Open(L"SomeOtherClass", L"My Page");  // right title, foreign class
    desktop.Run(L"My Page");
    EXPECT_EQ(desktop.calls, (std::vector<Call>{
                                 Find(UiClass, L"My Page"),
                                 Find(UiClass, L"_My Page"),
                                 Find(DialogClass, L"My Page"),
                                 Find(DialogClass, L"_My Page"),
                                 Find(WindowClass, L"My Page"),
                                 Find(WindowClass, L"_My Page"),
                                 Look(),
                             }));
}

TEST(Keeper, FirstPassStopsAtTheClassThatHasTheWindowAndKeepsToIt)
{
    FakeDesktop desktop;
    intptr_t window = desktop.Open(DialogClass, L"T");
    desktop.betweenPasses = [&](int pass) {
        if (pass == 2)
            desktop.Close(window);
    };
    desktop.Run(L"T");
    EXPECT_EQ(desktop.calls, (std::vector<Call>{
                                 Find(UiClass, L"T"), Find(UiClass, L"_T"), Find(DialogClass, L"T"),
                                 GetStyle(window), Raise(window), Sleep(),
                                 Find(DialogClass, L"T"), GetStyle(window), Sleep(),
                                 Find(DialogClass, L"T"), Find(DialogClass, L"_T"), Look(),
                             }));
    EXPECT_TRUE(desktop.Window(window).topmost);
}

TEST(Keeper, FixedClassIsNotLeftForAnotherClassWithTheSameTitle)
{
    FakeDesktop desktop;
    intptr_t kept = desktop.Open(UiClass, L"T", true);
    intptr_t later = 0;
    desktop.betweenPasses = [&](int pass) {
        if (pass == 1) {
            later = desktop.Open(WindowClass, L"T");
            desktop.Close(kept);
        }
    };
    desktop.Run(L"T");
    EXPECT_EQ(desktop.calls, (std::vector<Call>{
                                 Find(UiClass, L"T"), GetStyle(kept), Sleep(),
                                 Find(UiClass, L"T"), Find(UiClass, L"_T"), Look(),
                             }));
    EXPECT_FALSE(desktop.Window(later).topmost);
}

TEST(Keeper, ClassIsFixedByTheFirstPassEvenWhenItFoundNothingEarlier)
{
    // A window that appears in the first class only after the first pass settled
    // on the third one is not looked at.
    FakeDesktop desktop;
    intptr_t found = desktop.Open(WindowClass, L"T");
    intptr_t late = 0;
    desktop.betweenPasses = [&](int pass) {
        if (pass == 1)
            late = desktop.Open(UiClass, L"T");
        if (pass == 2)
            desktop.Close(found);
    };
    desktop.Run(L"T");
    bool afterFirstSleep = false;
    for (const Call& call : desktop.calls) {
        if (call.kind == Call::Sleep)
            afterFirstSleep = true;
        else if (afterFirstSleep && call.kind == Call::Find)
            EXPECT_EQ(call.className, WindowClass) << call;
    }
    EXPECT_FALSE(desktop.Window(late).topmost);
    EXPECT_TRUE(desktop.Window(found).topmost);
}

TEST(Keeper, RaisesOnlyWhileTheWindowIsNotTopmost)
{
    FakeDesktop desktop;
    intptr_t window = desktop.Open(WindowClass, L"T");
    desktop.betweenPasses = [&](int pass) {
        if (pass == 2)
            desktop.Window(window).topmost = false;  // something else took it out of the band
        if (pass == 4)
            desktop.Close(window);
    };
    desktop.Run(L"T");

    std::vector<Call> setPos;
    for (const Call& call : desktop.calls)
        if (call.kind == Call::SetPos)
            setPos.push_back(call);
    EXPECT_EQ(setPos, (std::vector<Call>{Raise(window), Raise(window)}));  // pass 1 and pass 3
}

TEST(Keeper, OnlyTheTopmostBitOfTheExtendedStyleCounts)
{
    FakeDesktop desktop;
    desktop.otherStyleBits = ~0x8u;  // every other bit set
    intptr_t window = desktop.Open(UiClass, L"T");
    desktop.betweenPasses = [&](int) { desktop.Close(window); };
    desktop.Run(L"T");
    EXPECT_EQ(desktop.calls, (std::vector<Call>{Find(UiClass, L"T"), GetStyle(window), Raise(window), Sleep(),
                                                Find(UiClass, L"T"), Find(UiClass, L"_T"), Look()}));
}

TEST(Keeper, TopmostHiddenWindowWithThePlainTitleIsLeftAlone)
{
    // The shown state is never read: only the topmost bit decides.
    FakeDesktop desktop;
    intptr_t window = desktop.Open(UiClass, L"T", true);
    desktop.Window(window).visible = false;
    desktop.betweenPasses = [&](int) { desktop.Close(window); };
    desktop.Run(L"T");
    EXPECT_EQ(desktop.calls, (std::vector<Call>{Find(UiClass, L"T"), GetStyle(window), Sleep(),
                                                Find(UiClass, L"T"), Find(UiClass, L"_T"), Look()}));
    EXPECT_FALSE(desktop.Window(window).visible);
}

TEST(Keeper, FollowsTheBrowserRetitlingTheWindowBackAndForth)
{
    FakeDesktop desktop;
    intptr_t window = desktop.Open(WindowClass, L"My Page", true);
    desktop.betweenPasses = [&](int pass) {
        if (pass == 1)
            desktop.Window(window).title = L"_My Page";
        if (pass == 3)
            desktop.Window(window).title = L"My Page";
        if (pass == 4)
            desktop.Window(window).title = L"Something else";
    };
    desktop.Run(L"My Page");
    const Call plainSearch = Find(WindowClass, L"My Page");
    const Call prefixedSearch = Find(WindowClass, L"_My Page");
    EXPECT_EQ(desktop.calls, (std::vector<Call>{
                                 // pass 1: found on the first pass after five misses; already topmost
                                 Find(UiClass, L"My Page"), Find(UiClass, L"_My Page"), Find(DialogClass, L"My Page"),
                                 Find(DialogClass, L"_My Page"), plainSearch, GetStyle(window), Sleep(),
                                 // pass 2: prefixed and topmost: lowered and hidden
                                 plainSearch, prefixedSearch, GetStyle(window), Lower(window), Sleep(),
                                 // pass 3: prefixed and no longer topmost: nothing
                                 plainSearch, prefixedSearch, GetStyle(window), Sleep(),
                                 // pass 4: plain again: raised and shown
                                 plainSearch, GetStyle(window), Raise(window), Sleep(),
                                 // pass 5: a third title, on the window itself too: done
                                 plainSearch, prefixedSearch, Look(), GetStyle(window), LetGo(window),
                             }));
    EXPECT_FALSE(desktop.Window(window).topmost);
    EXPECT_TRUE(desktop.Window(window).visible);
}

// The search ignores letter case, so the look that confirms a miss must too.
const struct {
    const char* name;
    const wchar_t* asked;
    const wchar_t* plain;  // the window's titles
    const wchar_t* prefixed;
} titleCases[] = {
    {"the title as asked", L"T", L"T", L"_T"},
    {"the title in other letter case", L"race page", L"Race Page", L"_RACE PAGE"},
};

// Retitled between the two searches of a pass, the window escapes both; one
// look at every window then finds it, and its title there decides the mode.
TEST(Keeper, AWindowThatEscapesBothSearchesIsStillKeptByItsTitleNow)
{
    for (const auto& row : titleCases) {
        SCOPED_TRACE(row.name);
        FakeDesktop desktop;
        intptr_t window = desktop.Open(UiClass, row.plain);
        desktop.betweenPasses = [&](int pass) {
            if (pass == 1) {
                desktop.Window(window).title = row.prefixed;
                desktop.RetitleDuringSearches(window, {row.plain, row.prefixed});  // ends up hidden
            }
            if (pass == 2)
                desktop.RetitleDuringSearches(window, {row.plain});  // ends up plain
            if (pass == 3)
                desktop.Close(window);
        };
        desktop.Run(row.asked);
        const std::wstring prefixedAsked = L"_" + std::wstring(row.asked);
        const Call plainSearch = Find(UiClass, row.asked), prefixedSearch = Find(UiClass, prefixedAsked);
        EXPECT_EQ(desktop.calls, (std::vector<Call>{
                                     plainSearch, GetStyle(window), Raise(window), Sleep(),
                                     plainSearch, prefixedSearch, Look(), GetStyle(window), Lower(window), Sleep(),
                                     plainSearch, prefixedSearch, Look(), GetStyle(window), Raise(window), Sleep(),
                                     plainSearch, prefixedSearch, Look(),
                                 }));
    }
}

// On the first pass too: no window has been acted on yet, and the class is the
// one the look found the window in.
TEST(Keeper, AWindowThatEscapesEverySearchOfTheFirstPassIsStillKept)
{
    for (const auto& row : titleCases) {
        SCOPED_TRACE(row.name);
        FakeDesktop desktop;
        intptr_t window = desktop.Open(UiClass, row.prefixed);
        desktop.RetitleDuringSearches(window, {row.plain, row.prefixed, row.plain, row.prefixed, row.plain, row.plain});
        desktop.betweenPasses = [&](int) { desktop.Close(window); };
        desktop.Run(row.asked);
        const std::wstring prefixedAsked = L"_" + std::wstring(row.asked);
        EXPECT_EQ(desktop.calls, (std::vector<Call>{
                                     Find(UiClass, row.asked), Find(UiClass, prefixedAsked),
                                     Find(DialogClass, row.asked), Find(DialogClass, prefixedAsked),
                                     Find(WindowClass, row.asked), Find(WindowClass, prefixedAsked), Look(),
                                     GetStyle(window), Raise(window), Sleep(),
                                     Find(UiClass, row.asked), Find(UiClass, prefixedAsked), Look(),
                                 }));
    }
}

// The keep ends once no window of the class carries either title. The window
// the keeper made topmost, if it is still there and of that class, then leaves
// the topmost band as it is: shown, not activated.
TEST(Keeper, AMissEndsTheKeeperAndLetsGoOfTheWindowItLeftTopmost)
{
    const std::vector<Call> letGo = {GetStyle(1), LetGo(1)};
    const struct {
        const char* change;
        std::function<void(FakeWindow&, int pass)> apply;
        std::vector<Call> end;  // the calls after the last look
        bool topmostBefore = false;
    } changes[] = {
        {"closed", [](FakeWindow& window, int) { window.open = false; }, {}},
        {"a third title", [](FakeWindow& window, int) { window.title = L"Another page"; }, letGo},
        // One unit longer than the "_" title: read cut to that length, it would pass for it.
        {"the \"_\" title and one more character", [](FakeWindow& window, int) { window.title = L"_TX"; }, letGo},
        {"the plain title and more", [](FakeWindow& window, int) { window.title = L"T and more"; }, letGo},
        {"now a window of another class", [](FakeWindow& window, int) { window.className = DialogClass; }, {}},
        {"hidden by the \"_\" title, then a third title",
         [](FakeWindow& window, int pass) { window.title = pass == 1 ? L"_T" : L"Another page"; }, {}},
        {"topmost before the keeper found it, then a third title",
         [](FakeWindow& window, int) { window.title = L"Another page"; }, {}, true},
    };
    for (const auto& change : changes) {
        SCOPED_TRACE(change.change);
        FakeDesktop desktop;
        intptr_t window = desktop.Open(UiClass, L"T", change.topmostBefore);
        desktop.betweenPasses = [&](int pass) { change.apply(desktop.Window(window), pass); };
        desktop.Run(L"T");
        const std::vector<Call> firstPass =
            change.topmostBefore ? std::vector<Call>{Find(UiClass, L"T"), GetStyle(window), Sleep()}
                                 : std::vector<Call>{Find(UiClass, L"T"), GetStyle(window), Raise(window), Sleep()};
        ASSERT_GE(desktop.calls.size(), firstPass.size());
        EXPECT_EQ(std::vector<Call>(desktop.calls.begin(), desktop.calls.begin() + firstPass.size()), firstPass);
        auto lastLook = std::find(desktop.calls.rbegin(), desktop.calls.rend(), Look());
        ASSERT_NE(lastLook, desktop.calls.rend());
        EXPECT_EQ(std::vector<Call>(lastLook.base(), desktop.calls.end()), change.end);
        EXPECT_EQ(std::count(desktop.calls.begin(), desktop.calls.end(), Look()), 1);  // the miss that ended it
    }
}

TEST(Keeper, WindowFoundOnlyByThePrefixedTitleAndNotTopmostIsNotHidden)
{
    FakeDesktop desktop;
    intptr_t window = desktop.Open(UiClass, L"_T");
    desktop.betweenPasses = [&](int) { desktop.Close(window); };
    desktop.Run(L"T");
    EXPECT_EQ(desktop.calls, (std::vector<Call>{Find(UiClass, L"T"), Find(UiClass, L"_T"), GetStyle(window), Sleep(),
                                                Find(UiClass, L"T"), Find(UiClass, L"_T"), Look()}));
    EXPECT_TRUE(desktop.Window(window).visible);
}

TEST(Keeper, PlainTitleWinsOverThePrefixedOneInTheSameClass)
{
    FakeDesktop desktop;
    intptr_t prefixed = desktop.Open(DialogClass, L"_T", true);
    intptr_t plain = desktop.Open(DialogClass, L"T");
    desktop.betweenPasses = [&](int pass) {
        if (pass == 2)
            desktop.CloseAll();
    };
    desktop.Run(L"T");
    EXPECT_EQ(desktop.calls, (std::vector<Call>{
                                 Find(UiClass, L"T"), Find(UiClass, L"_T"), Find(DialogClass, L"T"),
                                 GetStyle(plain), Raise(plain), Sleep(),
                                 Find(DialogClass, L"T"), GetStyle(plain), Sleep(),
                                 Find(DialogClass, L"T"), Find(DialogClass, L"_T"), Look(),
                             }));
    EXPECT_TRUE(desktop.Window(prefixed).topmost);
    EXPECT_TRUE(desktop.Window(prefixed).visible);
}

TEST(Keeper, PrefixedTitleInAnEarlierClassWinsOverThePlainTitleInALaterOne)
{
    // Classes are tried one after the other, each with both titles.
    FakeDesktop desktop;
    intptr_t plain = desktop.Open(WindowClass, L"T");
    intptr_t prefixed = desktop.Open(UiClass, L"_T", true);
    desktop.betweenPasses = [&](int) { desktop.CloseAll(); };
    desktop.Run(L"T");
    EXPECT_EQ(desktop.calls, (std::vector<Call>{Find(UiClass, L"T"), Find(UiClass, L"_T"), GetStyle(prefixed),
                                                Lower(prefixed), Sleep(), Find(UiClass, L"T"), Find(UiClass, L"_T"),
                                                Look()}));
    EXPECT_FALSE(desktop.Window(plain).topmost);
}

TEST(Keeper, EmptyTitleSearchesTheEmptyTitleAndALoneUnderscore)
{
    FakeDesktop desktop;
    desktop.Run(L"");
    ASSERT_EQ(desktop.calls.size(), 7u);
    EXPECT_EQ(desktop.calls[0], Find(UiClass, L""));
    EXPECT_EQ(desktop.calls[1], Find(UiClass, L"_"));
}

TEST(Keeper, TitleIsUsedExactlyAndPrefixedWithOneMoreUnderscore)
{
    const std::wstring titles[] = {
        L"_Already",
        L"  Spaces and CASE  ",
        L"\u00C4\u65E5\u672C %s \"q\"",
        std::wstring(3000, L'x'),  // longer than any buffer a C programmer might reach for
    };
    for (const std::wstring& title : titles) {
        FakeDesktop desktop;
        desktop.Run(title);
        ASSERT_EQ(desktop.calls.size(), 7u);
        EXPECT_EQ(desktop.calls[0].title, title);
        EXPECT_EQ(desktop.calls[1].title, L"_" + title);
    }
}

TEST(Keeper, SleepsOneSecondAfterEveryPassThatFoundTheWindowAndNeverAfterTheLast)
{
    FakeDesktop desktop;
    intptr_t window = desktop.Open(UiClass, L"T");
    desktop.betweenPasses = [&](int pass) {
        if (pass == 5)
            desktop.Close(window);
    };
    desktop.Run(L"T");
    int sleeps = 0;
    for (const Call& call : desktop.calls) {
        if (call.kind == Call::Sleep) {
            ++sleeps;
            EXPECT_EQ(call.value, 1000u);
        }
    }
    EXPECT_EQ(sleeps, 5);
    ASSERT_FALSE(desktop.calls.empty());
    EXPECT_NE(desktop.calls.back().kind, Call::Sleep);
}

}  // namespace
