// The policy key as Group Policy writes it: a list is a subkey of string
// values named 1, 2, 3, ..., the default a REG_DWORD.
#include "policy/policy_registry.h"

#include "policy/policy_keys.h"

#include <windows.h>

namespace {

// Group Policy's client writes the machine's policy into the registry's
// native view. Windows 7 and later keep HKLM\Software\Policies as one key for
// both views, but XP x64 and Vista redirect it for 32-bit programs: a 32-bit
// halvane.exe there would read an empty Wow6432Node copy. So it asks for the
// 64-bit view; 32-bit Windows ignores the flag, and HKCU\Software is not
// redirected at all.
const REGSAM PolicyAccess = KEY_QUERY_VALUE | KEY_WOW64_64KEY;

// Longer than any entry can be ("[*.]", 253 characters, spaces around):
// a longer value is a bad entry, passed over whole.
enum { EntryBufferLength = 300, NameBufferLength = 32 };

bool ReadList(void* context, const wchar_t* listName, PolicyList* into)
{
    HKEY list;
    if (!context || RegOpenKeyExW(static_cast<HKEY>(context), listName, 0, PolicyAccess, &list) != ERROR_SUCCESS)
        return false;
    bool holdsValues = false;
    for (DWORD i = 0;; ++i) {
        wchar_t name[NameBufferLength];
        wchar_t entry[EntryBufferLength + 1];
        DWORD nameLength = NameBufferLength, type = 0, size = EntryBufferLength * sizeof(wchar_t);
        LSTATUS status = RegEnumValueW(list, i, name, &nameLength, nullptr, &type, reinterpret_cast<BYTE*>(entry), &size);
        if (status == ERROR_NO_MORE_ITEMS)
            break;
        holdsValues = true;
        if (status != ERROR_SUCCESS || (type != REG_SZ && type != REG_EXPAND_SZ))
            continue;
        // The registry does not promise a terminator inside the data.
        entry[size / sizeof(wchar_t)] = L'\0';
        AddPolicyEntry(into, entry);
    }
    RegCloseKey(list);
    return holdsValues;
}

bool ReadDefault(void* context, uint32_t* value)
{
    DWORD type = 0, data = 0, size = sizeof(data);
    if (!context || RegQueryValueExW(static_cast<HKEY>(context), POLICY_DEFAULT_DECISION, nullptr, &type,
                                     reinterpret_cast<BYTE*>(&data), &size) != ERROR_SUCCESS ||
        type != REG_DWORD || size != sizeof(data))
        return false;
    *value = data;
    return true;
}

HKEY OpenPolicyKey(HKEY root)
{
    HKEY key;
    return RegOpenKeyExW(root, POLICY_KEY_PATH, 0, PolicyAccess, &key) == ERROR_SUCCESS ? key : nullptr;
}

}  // namespace

void LoadPolicy(SitePolicy* policy)
{
    HKEY machineKey = OpenPolicyKey(HKEY_LOCAL_MACHINE);
    HKEY userKey = OpenPolicyKey(HKEY_CURRENT_USER);
    BuildPolicy({machineKey, ReadList, ReadDefault}, {userKey, ReadList, ReadDefault}, policy);
    if (machineKey)
        RegCloseKey(machineKey);
    if (userKey)
        RegCloseKey(userKey);
}
