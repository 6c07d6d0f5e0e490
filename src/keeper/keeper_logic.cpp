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
// then neither finds it. So a miss is only believed once the window acted on
// last proves gone, of another class or under a third title. Its title is read
// in one go: unlike the two searches, that look cannot be split by a retitle.
static void* ConfirmMiss(const KeeperCalls* calls, void* lastWindow, const wchar_t* className, const wchar_t* title,
                         const wchar_t* prefixedTitle, wchar_t* readTitle, uint32_t capacity, KeeperMode* mode)
{
    if (!lastWindow || !calls->readTitle(calls->context, lastWindow, className, readTitle, capacity))
        return nullptr;
    if (wcscmp(readTitle, title) == 0) {
        *mode = RaiseMode;
        return lastWindow;
    }
    if (wcscmp(readTitle, prefixedTitle) == 0) {
        *mode = LowerMode;
        return lastWindow;
    }
    return nullptr;
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
    wchar_t* readTitle = static_cast<wchar_t*>(AllocateOrDie(uint64_t(capacity) * sizeof(wchar_t)));

    int currentClass = 0;
    bool classFixed = false;
    void* lastWindow = nullptr;
    for (;;) {
        KeeperMode mode;
        void* window = SearchClass(calls, BrowserWindowClasses[currentClass], title, prefixedTitle, &mode);
        // The first pass tries the classes in order; the class it ends on is kept from then on.
        while (!classFixed && !window && currentClass < 2) {
            ++currentClass;
            window = SearchClass(calls, BrowserWindowClasses[currentClass], title, prefixedTitle, &mode);
        }
        classFixed = true;
        if (!window)
            window = ConfirmMiss(calls, lastWindow, BrowserWindowClasses[currentClass], title, prefixedTitle,
                                 readTitle, capacity, &mode);
        if (!window)
            break;
        lastWindow = window;

        bool topmost = (calls->getExtendedStyle(calls->context, window) & KeeperTopmostBit) != 0;
        if (mode == RaiseMode && !topmost)
            calls->setWindowPos(calls->context, window, KeeperInsertTopmost, KeeperRaiseFlags);
        else if (mode == LowerMode && topmost)
            calls->setWindowPos(calls->context, window, KeeperInsertNoTopmost, KeeperLowerFlags);
        calls->sleep(calls->context, KeeperPassInterval);
    }
    free(readTitle);
    free(prefixedTitle);
}
