// Keeps the browser window with the given title on top until it is gone.
#ifndef HALVANE_KEEPER_H
#define HALVANE_KEEPER_H

void KeepWindowOnTop(const wchar_t* windowTitle);

#endif
