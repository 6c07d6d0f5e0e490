#include "keeper/keeper_logic.h"

#include "text/text.h"

#include <stdlib.h>
#include <wchar.h>

const wchar_t* const BrowserWindowClasses[3] = {
    L"MozillaUIWindowClass",
    L"MozillaDialogClass",
    L"MozillaWindowClass",
};

enum KeeperMode { RaiseMode, LowerMode };

// Within one class the plain title wins; the prefixed one is only looked for without it.
static void* SearchClass(const KeeperCalls* calls, const wchar_t* className, const wchar_t* title,
                         const wchar_t* prefixedTitle, KeeperMode* mode)
{
    void* window = calls->findWindow(calls->context, className, title);
    *mode = RaiseMode;
    if (!window) {
        window = calls->findWindow(calls->context, className, prefixedTitle);
        *mode = LowerMode;
    }
    return window;
}

// The browser may retitle its window between the two searches of a pass, and
// then neither finds it, on the first pass as on any other. So a miss is only
// believed once one look at every top-level window, each title read in one go
// (a look a retitle cannot split), finds neither title on a window of the
// classes searched. Titles are matched by the searches' own case rule.
struct Look {
    const wchar_t* title;
    const wchar_t* prefixedTitle;
    CharacterFold fold;
    int firstClass, lastClass;
    void* found[3][2];  // per class, the first window with the plain and with the "_" title
    void* raised;       // the window the keeper left topmost, if any
    bool raisedSeen;    // whether it is still a window of the class it was kept in
};

static void LookAtWindow(void* context, void* window, const wchar_t* className, const wchar_t* windowTitle)
{
    Look* look = static_cast<Look*>(context);
    if (window == look->raised && EqualIgnoringAsciiCase(className, BrowserWindowClasses[look->lastClass]))
        look->raisedSeen = true;
    for (int c = look->firstClass; c <= look->lastClass; ++c) {
        if (!EqualIgnoringAsciiCase(className, BrowserWindowClasses[c]))
            continue;
        int mode = EqualAfterFold(windowTitle, look->title, look->fold)           ? RaiseMode
                   : EqualAfterFold(windowTitle, look->prefixedTitle, look->fold) ? LowerMode
                                                                                  : -1;
        if (mode >= 0 && !look->found[c][mode])
            look->found[c][mode] = window;
    }
}

// In the searches' order: class by class, the plain title before the "_" one.
static void* ConfirmMiss(const KeeperCalls* calls, Look* look, wchar_t* titleBuffer, uint32_t capacity,
                         int* classFound, KeeperMode* mode)
{
    calls->listWindows(calls->context, titleBuffer, capacity, LookAtWindow, look);
    for (int c = look->firstClass; c <= look->lastClass; ++c) {
        for (int m = RaiseMode; m <= LowerMode; ++m) {
            if (look->found[c][m]) {
                *classFound = c;
                *mode = static_cast<KeeperMode>(m);
                return look->found[c][m];
            }
        }
    }
    return nullptr;
}

// A keep that has ended must not leave the window in the topmost band for
// good. Only a window the keeper itself put there and that is still there is
// let go: out of the band, neither hidden nor activated.
static void LetGo(const KeeperCalls* calls, void* window)
{
    if ((calls->getExtendedStyle(calls->context, window) & KeeperTopmostBit) != 0)
        calls->setWindowPos(calls->context, window, KeeperInsertNoTopmost, KeeperLetGoFlags);
}

void KeepWindowOnTopWith(const wchar_t* title, const KeeperCalls* calls)
{
    size_t length = wcslen(title);
    wchar_t* prefixedTitle = static_cast<wchar_t*>(AllocateOrDie((uint64_t(length) + 2) * sizeof(wchar_t)));
    prefixedTitle[0] = L'_';
    wmemcpy(prefixedTitle + 1, title, length + 1);
    // One unit more than the prefixed title can fill, so that a longer title,
    // cut to fit, still reads as different from both.
    uint32_t capacity = static_cast<uint32_t>(length) + 3;
    wchar_t* titleBuffer = static_cast<wchar_t*>(AllocateOrDie(uint64_t(capacity) * sizeof(wchar_t)));

    int currentClass = 0;
    bool classFixed = false;
    void* raised = nullptr;  // the window last made topmost; the class is fixed by then
    for (;;) {
        int firstClass = currentClass;
        KeeperMode mode;
        void* window = SearchClass(calls, BrowserWindowClasses[currentClass], title, prefixedTitle, &mode);
        // The first pass tries the classes in order; the class it ends on is kept from then on.
        while (!classFixed && !window && currentClass < 2) {
            ++currentClass;
            window = SearchClass(calls, BrowserWindowClasses[currentClass], title, prefixedTitle, &mode);
        }
        classFixed = true;
        if (!window) {
            Look look = {title, prefixedTitle, calls->titleFold, firstClass, currentClass, {}, raised, false};
            window = ConfirmMiss(calls, &look, titleBuffer, capacity, &currentClass, &mode);
            if (!window) {
                if (look.raisedSeen)
                    LetGo(calls, raised);
                break;
            }
        }

        bool topmost = (calls->getExtendedStyle(calls->context, window) & KeeperTopmostBit) != 0;
        if (mode == RaiseMode && !topmost) {
            calls->setWindowPos(calls->context, window, KeeperInsertTopmost, KeeperRaiseFlags);
            raised = window;
        } else if (mode == LowerMode && topmost) {
            calls->setWindowPos(calls->context, window, KeeperInsertNoTopmost, KeeperLowerFlags);
            if (window == raised)
                raised = nullptr;
        }
        calls->sleep(calls->context, KeeperPassInterval);
    }
    free(titleBuffer);
    free(prefixedTitle);
}
