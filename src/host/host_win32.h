// The Windows side of halvane-host.exe, shared by its files: what
// host_win32.cpp gives, and the registration (host_registration.cpp).
#ifndef HALVANE_HOST_WIN32_H
#define HALVANE_HOST_WIN32_H

#include <string>

// The full path of this program; false when Windows cannot give it whole.
bool ModulePath(std::wstring* path);

// --register and --unregister: the manifest beside this program and the HKCU
// key that names it. Each says what it did and gives the exit code.
int RegisterHost();
int UnregisterHost();

#endif
