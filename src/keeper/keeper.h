// Keeps the browser window with the given title on top until it is gone.
#ifndef HALVANE_KEEPER_H
#define HALVANE_KEEPER_H

void KeepWindowOnTop(const wchar_t* windowTitle);

// Null in use. A test sets it to act at a moment no timing can aim at: it is
// called after each search by class and title, with whether it found a window.
extern void (*KeeperSearched)(const wchar_t* className, const wchar_t* title, bool found);

#endif
