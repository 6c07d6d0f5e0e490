// Which road halvane.exe takes to its string table under Wine. Wine ignores the
// thread UI language that Windows 6 and later steer by, but switches tables with
// the thread locale, which the program sets only on older systems; and Wine reads
// a per-program Windows version from HKCU\Software\Wine\AppDefaults\<exe>\Version
// whenever a process starts. So a test that needs a language other than English
// sends halvane.exe alone on the Windows XP road, and the test program itself
// stays on 6.1.
#ifndef HALVANE_TEST_LANGUAGE_ROADS_H
#define HALVANE_TEST_LANGUAGE_ROADS_H

#include <windows.h>

inline const wchar_t* HalvaneAppDefaultsKey()
{
    return L"Software\\Wine\\AppDefaults\\halvane.exe";
}

// Windows XP for every later start of halvane.exe in this prefix.
inline bool SendHalvaneOnTheLocaleRoad()
{
    HKEY key;
    if (RegCreateKeyExW(HKEY_CURRENT_USER, HalvaneAppDefaultsKey(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) != ERROR_SUCCESS)
        return false;
    const wchar_t version[] = L"winxp64";
    LONG result = RegSetValueExW(key, L"Version", 0, REG_SZ, reinterpret_cast<const BYTE*>(version), sizeof(version));
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

inline void SendHalvaneOnTheDefaultRoad()
{
    RegDeleteTreeW(HKEY_CURRENT_USER, HalvaneAppDefaultsKey());
}

#endif
