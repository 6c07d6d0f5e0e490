// Wine ignores the thread UI language (the road of Windows 6 and later) but switches
// tables with the thread locale, which the program sets only on older systems. So a
// test that needs a language other than English sends halvane.exe alone on the XP
// road through Wine's per-program version; the test program itself stays on 6.1.
// Windows honours either road: there the program takes its own, and nothing is written.
#ifndef HALVANE_TEST_LANGUAGE_ROADS_H
#define HALVANE_TEST_LANGUAGE_ROADS_H

#include "driver.h"

#include <windows.h>

#include <string>

const wchar_t kHalvaneAppDefaults[] = L"Software\\Wine\\AppDefaults\\halvane.exe";

// A string value of Wine's settings for halvane.exe alone (subkey "" or "\\Name"); nothing on Windows.
inline bool WriteAppDefault(const wchar_t* subkey, const wchar_t* name, const std::wstring& value)
{
    HKEY key;
    if (!driver::UnderWine())
        return true;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, (kHalvaneAppDefaults + std::wstring(subkey)).c_str(), 0, nullptr, 0,
                        KEY_SET_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return false;
    LONG result = RegSetValueExW(key, name, 0, REG_SZ, reinterpret_cast<const BYTE*>(value.c_str()),
                                 DWORD((value.size() + 1) * sizeof(wchar_t)));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

// Windows XP for every later start of halvane.exe in this prefix.
inline bool SendHalvaneOnTheLocaleRoad() { return WriteAppDefault(L"", L"Version", L"winxp64"); }

// Takes every setting of Wine's for halvane.exe away.
inline void SendHalvaneOnTheDefaultRoad() { RegDeleteTreeW(HKEY_CURRENT_USER, kHalvaneAppDefaults); }

#endif
