// The window keeper's decisions, driven through a recording fake of its
// platform calls. The fake holds a small world of windows; its sleep is where a
// scenario changes that world between passes (retitles, closes, opens windows).
#include "keeper/keeper_logic.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace {

const wchar_t* const UiClass = L"MozillaUIWindowClass";
const wchar_t* const DialogClass = L"MozillaDialogClass";
const wchar_t* const WindowClass = L"MozillaWindowClass";

struct FakeWindow {
    std::wstring className;
    std::wstring title;
    bool topmost = false;
    bool open = true;
};

std::string Narrow(const std::wstring& text)
{
    std::string out;
    for (wchar_t c : text)
        out += (c >= 0x20 && c < 0x7F) ? static_cast<char>(c) : '?';
    return out;
}

// Logs each call in a word or three, joined by ", ": "find U T" (the classes
// U, D and W, then the title), "style 1" (window #1), "raise 1", "lower 1",
// "letgo 1", "pos 1 -2 0x3" for any other move, "sleep" (a second; other
// lengths are spelt out) and "look".
class FakeDesktop {
public:
    uint32_t otherStyleBits = 0x00000100;  // WS_EX_WINDOWEDGE: only WS_EX_TOPMOST may count
    std::vector<FakeWindow> windows;       // handle n is windows[n - 1]
    // Called at each sleep with the number of the pass that just ended (1-based);
    // a scenario that never closes its windows is ended by force and fails.
    std::function<void(FakeDesktop&, int pass)> betweenPasses = [](FakeDesktop&, int) {};
    std::string log;
    std::vector<std::wstring> searched;  // every title searched for, whole

    FakeWindow& Window(intptr_t handle) { return windows.at(static_cast<size_t>(handle - 1)); }

    // Titles a window takes on one by one, each right after a search has looked
    // at the desktop: a browser retitling it in the middle of a pass.
    void RetitleDuringSearches(intptr_t handle, std::vector<std::wstring> titles)
    {
        retitled = handle;
        pendingTitles = std::move(titles);
    }

    void Run(const std::wstring& title)
    {
        KeeperCalls calls = {this, &FindWindowThunk, &GetStyleThunk, &SetPosThunk, &SleepThunk, &ListThunk, &Fold};
        KeepWindowOnTopWith(title.c_str(), &calls);
    }

private:
    static FakeDesktop* Self(void* context) { return static_cast<FakeDesktop*>(context); }
    void Log(const std::string& call) { log += (log.empty() ? "" : ", ") + call; }

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
        const std::wstring name = className;
        const std::string shortName =
            name == UiClass ? "U" : name == DialogClass ? "D" : name == WindowClass ? "W" : Narrow(name);
        self->Log("find " + shortName + " " + Narrow(title));
        self->searched.push_back(title);
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
        self->Log("look");
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
        self->Log("style " + std::to_string(window));
        return self->otherStyleBits | (self->Window(window).topmost ? 0x8u : 0u);
    }

    static void SetPosThunk(void* context, void* handle, intptr_t insertAfter, uint32_t flags)
    {
        FakeDesktop* self = Self(context);
        intptr_t window = reinterpret_cast<intptr_t>(handle);
        const std::string number = std::to_string(window);
        if (insertAfter == -1 && flags == 0x43)
            self->Log("raise " + number);
        else if (insertAfter == -2 && flags == 0x83)
            self->Log("lower " + number);
        else if (insertAfter == -2 && flags == 0x213)
            self->Log("letgo " + number);
        else
            self->Log("pos " + number + " " + std::to_string(insertAfter) + " " + std::to_string(flags));
        if (insertAfter == -1 || insertAfter == -2)
            self->Window(window).topmost = insertAfter == -1;
    }

    static void SleepThunk(void* context, uint32_t milliseconds)
    {
        FakeDesktop* self = Self(context);
        self->Log(milliseconds == 1000 ? "sleep" : "sleep " + std::to_string(milliseconds));
        int pass = ++self->passes;
        self->betweenPasses(*self, pass);
        if (pass >= 50) {
            ADD_FAILURE() << "the scenario never let the keeper return";
            for (FakeWindow& window : self->windows)
                window.open = false;
        }
    }

    int passes = 0;
    intptr_t retitled = 0;
    std::vector<std::wstring> pendingTitles;
};

std::function<void(FakeDesktop&, int)> CloseAllAfterPass(int last)
{
    return [last](FakeDesktop& desktop, int pass) {
        if (pass == last)
            for (FakeWindow& window : desktop.windows)
                window.open = false;
    };
}

// Before the first pass, the window takes these titles one search after another.
std::function<void(FakeDesktop&, int)> EscapeTheFirstPass(const std::wstring& plain, const std::wstring& prefixed)
{
    return [=](FakeDesktop& desktop, int pass) {
        if (pass == 0)
            desktop.RetitleDuringSearches(1, {plain, prefixed, plain, prefixed, plain, plain});
        CloseAllAfterPass(1)(desktop, pass);
    };
}

std::function<void(FakeDesktop&, int)> RetitleAfterPass(std::vector<std::wstring> titles)
{
    return [titles](FakeDesktop& desktop, int pass) {
        if (pass > 0)
            desktop.Window(1).title = titles[std::min<size_t>(pass, titles.size()) - 1];
    };
}

std::string Repeat(const std::string& calls, int times)
{
    std::string out;
    for (int i = 0; i < times; ++i)
        out += calls;
    return out;
}

struct Scenario {
    const char* name;
    std::vector<FakeWindow> windows;
    std::function<void(FakeDesktop&, int pass)> betweenPasses;  // pass 0: before the first
    std::string expected;
    std::wstring title = L"T";
    uint32_t otherStyleBits = 0x100;
};

// Calls that recur: window #1 found with title "T" in the first class and raised,
// and the pass that finds it there no longer.
const std::string Raised = "find U T, style 1, raise 1, sleep, ", Missed = "find U T, find U _T, look";

// Raised with its plain title, lowered (hidden) with "_" and the title; the
// first pass tries the classes in turn and fixes the one it found the window in.
// The keep ends once no window of that class carries either title; the window
// the keeper made topmost, if still there and of that class, then leaves the
// topmost band as it is: shown, not activated.
TEST(Keeper, KeepsTheWindowByItsTitleAndClassUntilItIsGone)
{
    const std::string fromW = "find U T, find U _T, find D T, find D _T, find W T, style 1, raise 1, sleep, ";
    const Scenario scenarios[] = {
        {"no window: every class searched, one look, no sleep",
         {{UiClass, L"Other page"}, {L"SomeOtherClass", L"My Page"}}, CloseAllAfterPass(1),
         "find U My Page, find U _My Page, find D My Page, find D _My Page, find W My Page, find W _My Page, look",
         L"My Page"},
        {"the first pass stops at the class that has the window, and keeps to it", {{DialogClass, L"T"}},
         CloseAllAfterPass(2),
         "find U T, find U _T, find D T, style 1, raise 1, sleep, find D T, style 1, sleep, find D T, find D _T, look"},
        {"the class is fixed: a window of another class with the title later is not kept", {{UiClass, L"T", true}},
         [](FakeDesktop& desktop, int pass) {
             if (pass == 1) {
                 desktop.windows.push_back({WindowClass, L"T"});
                 desktop.Window(1).open = false;
             }
         },
         "find U T, style 1, sleep, " + Missed},
        {"the class is fixed even when a window appears in an earlier one later", {{WindowClass, L"T"}},
         [](FakeDesktop& desktop, int pass) {
             if (pass == 1)
                 desktop.windows.push_back({UiClass, L"T"});
             if (pass == 2)
                 desktop.Window(1).open = false;
         },
         fromW + "find W T, style 1, sleep, find W T, find W _T, look"},
        {"raised only while not topmost", {{WindowClass, L"T"}},
         [](FakeDesktop& desktop, int pass) {
             if (pass == 2)
                 desktop.Window(1).topmost = false;  // something else took it out of the band
             CloseAllAfterPass(4)(desktop, pass);
         },
         fromW + "find W T, style 1, sleep, find W T, style 1, raise 1, sleep, find W T, style 1, sleep, "
                 "find W T, find W _T, look"},
        {"a sleep after every pass that found the window and none after the last", {{UiClass, L"T"}},
         CloseAllAfterPass(5), Raised + Repeat("find U T, style 1, sleep, ", 4) + Missed},
        {"only the topmost bit of the extended style counts", {{UiClass, L"T"}}, CloseAllAfterPass(1),
         Raised + Missed, L"T", ~0x8u},
        {"a topmost window with the plain title is left alone", {{UiClass, L"T", true}}, CloseAllAfterPass(1),
         "find U T, style 1, sleep, " + Missed},
        {"found only by the \"_\" title and not topmost: not hidden", {{UiClass, L"_T"}}, CloseAllAfterPass(1),
         "find U T, find U _T, style 1, sleep, " + Missed},
        {"the plain title wins over the \"_\" one in the same class", {{DialogClass, L"_T", true}, {DialogClass, L"T"}},
         CloseAllAfterPass(2),
         "find U T, find U _T, find D T, style 2, raise 2, sleep, find D T, style 2, sleep, find D T, find D _T, look"},
        {"the \"_\" title in an earlier class wins over the plain title in a later one",
         {{WindowClass, L"T"}, {UiClass, L"_T", true}}, CloseAllAfterPass(1),
         "find U T, find U _T, style 2, lower 2, sleep, " + Missed},
        {"follows the browser retitling the window back and forth", {{WindowClass, L"My Page", true}},
         RetitleAfterPass({L"_My Page", L"_My Page", L"My Page", L"Something else"}),
         // found after five misses and already topmost; "_": lowered; "_" and not topmost: nothing;
         // plain again: raised; a third title, on the window itself too: let go
         "find U My Page, find U _My Page, find D My Page, find D _My Page, find W My Page, style 1, sleep, "
         "find W My Page, find W _My Page, style 1, lower 1, sleep, "
         "find W My Page, find W _My Page, style 1, sleep, "
         "find W My Page, style 1, raise 1, sleep, "
         "find W My Page, find W _My Page, look, style 1, letgo 1",
         L"My Page"},
        {"ends at a third title and lets go", {{UiClass, L"T"}}, RetitleAfterPass({L"Another page"}),
         Raised + Missed + ", style 1, letgo 1"},
        // One unit longer than the "_" title: read cut to that length, it would pass for it.
        {"ends at the \"_\" title and one more character", {{UiClass, L"T"}}, RetitleAfterPass({L"_TX"}),
         Raised + Missed + ", style 1, letgo 1"},
        {"ends at the plain title and more", {{UiClass, L"T"}}, RetitleAfterPass({L"T and more"}),
         Raised + Missed + ", style 1, letgo 1"},
        {"ends when the window is now of another class", {{UiClass, L"T"}},
         [](FakeDesktop& desktop, int pass) {
             if (pass > 0)
                 desktop.Window(1).className = DialogClass;
         },
         Raised + Missed},
        {"ends at a third title after the \"_\" title hid it", {{UiClass, L"T"}},
         RetitleAfterPass({L"_T", L"Another page"}),
         Raised + "find U T, find U _T, style 1, lower 1, sleep, " + Missed},
        {"ends at a third title with nothing to let go once something else took it out of the band",
         {{UiClass, L"T"}},
         [](FakeDesktop& desktop, int pass) {
             if (pass > 0)
                 desktop.Window(1) = {UiClass, L"Another page", false};
         },
         Raised + Missed + ", style 1", L"T", ~0x8u},
        {"ends at a third title without touching a window that was topmost before", {{UiClass, L"T", true}},
         RetitleAfterPass({L"Another page"}), "find U T, style 1, sleep, " + Missed},
        // Retitled between the two searches of a pass, the window escapes both; one
        // look at every window then finds it (ignoring case on both sides, as the
        // search does), and its title there decides the mode.
        {"escapes both searches, in other letter case, and is still kept", {{UiClass, L"Race Page"}},
         [](FakeDesktop& desktop, int pass) {
             if (pass == 1) {
                 desktop.Window(1).title = L"_RACE PAGE";
                 desktop.RetitleDuringSearches(1, {L"Race Page", L"_RACE PAGE"});  // ends up hidden
             }
             if (pass == 2)
                 desktop.RetitleDuringSearches(1, {L"Race Page"});  // ends up plain
             CloseAllAfterPass(3)(desktop, pass);
         },
         "find U Race PAGE, style 1, raise 1, sleep, find U Race PAGE, find U _Race PAGE, look, style 1, lower 1, "
         "sleep, find U Race PAGE, find U _Race PAGE, look, style 1, raise 1, sleep, find U Race PAGE, "
         "find U _Race PAGE, look",
         L"Race PAGE"},
        // On the first pass no window has been acted on yet, and the class is the
        // one the look found the window in.
        {"escapes every search of the first pass, in other letter case, and is still kept", {{UiClass, L"_RACE PAGE"}},
         EscapeTheFirstPass(L"Race Page", L"_RACE PAGE"),
         "find U Race PAGE, find U _Race PAGE, find D Race PAGE, find D _Race PAGE, find W Race PAGE, "
         "find W _Race PAGE, look, style 1, raise 1, sleep, find U Race PAGE, find U _Race PAGE, look",
         L"Race PAGE"},
    };
    for (const Scenario& scenario : scenarios) {
        SCOPED_TRACE(scenario.name);
        FakeDesktop desktop;
        desktop.windows = scenario.windows;
        desktop.otherStyleBits = scenario.otherStyleBits;
        desktop.betweenPasses = scenario.betweenPasses;
        desktop.betweenPasses(desktop, 0);
        desktop.Run(scenario.title);
        EXPECT_EQ(desktop.log, scenario.expected);
    }
}

TEST(Keeper, SearchesTheTitleExactlyAndWithOneMoreUnderscore)
{
    const std::wstring titles[] = {
        L"", L"_Already", L"  Spaces and CASE  ", L"\u00C4\u65E5\u672C %s \"q\"",
        std::wstring(3000, L'x'),  // longer than any buffer a C programmer might reach for
    };
    for (const std::wstring& title : titles) {
        FakeDesktop desktop;
        desktop.Run(title);
        ASSERT_EQ(desktop.searched.size(), 6u);
        EXPECT_EQ(desktop.searched[0], title);
        EXPECT_EQ(desktop.searched[1], L"_" + title);
    }
}

}  // namespace
