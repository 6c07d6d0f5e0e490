// The browser window keeper's decisions, apart from the platform calls it makes
// (the seam below), so that a recording fake can drive it natively.
#ifndef HALVANE_KEEPER_LOGIC_H
#define HALVANE_KEEPER_LOGIC_H

#include <stdint.h>

enum : uint32_t {
    KeeperRaiseFlags = 0x43,  // SWP_NOSIZE | SWP_NOMOVE | SWP_SHOWWINDOW
    KeeperLowerFlags = 0x83,  // SWP_NOSIZE | SWP_NOMOVE | SWP_HIDEWINDOW
    KeeperLetGoFlags = 0x213,  // SWP_NOSIZE | SWP_NOMOVE | SWP_NOACTIVATE | SWP_NOOWNERZORDER
    KeeperTopmostBit = 0x08,  // WS_EX_TOPMOST
    KeeperPassInterval = 1000,
};

enum : intptr_t {
    KeeperInsertTopmost = -1,    // HWND_TOPMOST
    KeeperInsertNoTopmost = -2,  // HWND_NOTOPMOST
};

// The browser's top-level window classes, in the order the first pass tries them.
extern const wchar_t* const BrowserWindowClasses[3];

// Called for each top-level window of one look: its class name and its title,
// each read once.
typedef void (*KeeperVisit)(void* visitContext, void* window, const wchar_t* className, const wchar_t* title);

struct KeeperCalls {
    void* context;
    void* (*findWindow)(void* context, const wchar_t* className, const wchar_t* title);
    uint32_t (*getExtendedStyle)(void* context, void* window);
    void (*setWindowPos)(void* context, void* window, intptr_t insertAfter, uint32_t flags);
    void (*sleep)(void* context, uint32_t milliseconds);
    // Visits every top-level window of one snapshot of the list, each title read
    // in one go into titleBuffer (capacity code units, terminator included, cut to fit).
    void (*listWindows)(void* context, wchar_t* titleBuffer, uint32_t capacity, KeeperVisit visit,
                        void* visitContext);
    // The case rule findWindow matches titles by.
    wchar_t (*titleFold)(wchar_t c);
};

// Keeps the window titled `title` topmost and shown, or out of the topmost band
// and hidden while it carries "_" + title, until neither title is found. Then
// the window it left topmost, if still there, leaves the band, shown as it is.
void KeepWindowOnTopWith(const wchar_t* title, const KeeperCalls* calls);

#endif
