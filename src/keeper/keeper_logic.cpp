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

void KeepWindowOnTopWith(const wchar_t* title, const KeeperCalls* calls)
{
    size_t length = wcslen(title);
    wchar_t* prefixedTitle = static_cast<wchar_t*>(AllocateOrDie((uint64_t(length) + 2) * sizeof(wchar_t)));
    prefixedTitle[0] = L'_';
    wmemcpy(prefixedTitle + 1, title, length + 1);

    int currentClass = 0;
    bool classFixed = false;
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
            break;

        bool topmost = (calls->getExtendedStyle(calls->context, window) & KeeperTopmostBit) != 0;
        if (mode == RaiseMode && !topmost)
            calls->setWindowPos(calls->context, window, KeeperInsertTopmost, KeeperRaiseFlags);
        else if (mode == LowerMode && topmost)
            calls->setWindowPos(calls->context, window, KeeperInsertNoTopmost, KeeperLowerFlags);
        calls->sleep(calls->context, KeeperPassInterval);
    }
    free(prefixedTitle);
}
