// The registry side of the decision table: one REG_DWORD per site under HKCU.
#include "decisions/registry_store.h"

#include "decisions/decision_table.h"
#include "decisions/name_set.h"
#include "text/system_case.h"
#include "text/text.h"

#include <stdlib.h>
#include <wchar.h>

RegistryCalls Registry = {
    RegOpenKeyExW, RegCreateKeyExW, RegQueryInfoKeyW, RegEnumValueW,
    RegQueryValueExW, RegSetValueExW, RegDeleteValueW, RegCloseKey,
};

enum { LoadedNameLength = 256, LoadedNameLimit = 255 };  // names of 1 to 254 characters come back

void LoadDecisions()
{
    HKEY key;
    if (Registry.OpenKeyEx(HKEY_CURRENT_USER, DECISIONS_KEY_PATH, 0, KEY_READ, &key) != ERROR_SUCCESS)
        return;

    DWORD valueCount = 0;
    Registry.QueryInfoKey(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, nullptr,
                          nullptr, nullptr, nullptr);
    // Slot i stands for value i, taken or not, so passed-over values leave empty slots.
    ResetDecisionTable(valueCount);

    wchar_t name[LoadedNameLength];
    for (DWORD i = 0; i < valueCount; ++i) {
        DWORD nameLength = LoadedNameLimit;
        if (Registry.EnumValue(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS ||
            nameLength == 0)
            continue;
        LowerCaseAscii(name);
        // The type is not looked at: any value of exactly four bytes is a decision.
        int32_t decision = 0;
        DWORD size = sizeof(decision);
        if (Registry.QueryValueEx(key, name, nullptr, nullptr, reinterpret_cast<BYTE*>(&decision), &size) !=
                ERROR_SUCCESS ||
            size != sizeof(decision))
            continue;
        PutDecisionInSlot(i, DuplicateText(name, nameLength), decision);
    }
    Registry.CloseKey(key);
}

// The registry keeps a value's name as first written: setting "example.org"
// over "Example.ORG" changes the data, not the name. Such a name (which only
// another program can have written) is renamed by deleting it and writing it
// again; should that write fail, the old name gets its data back. The order
// cannot be the other way round: the registry matches names without regard to
// case, so the new name written first would land on the old value, and the
// delete would then take the decision with it. A kill between the two calls
// loses that one site.
static void LowerCaseStoredName(HKEY key, const wchar_t* storedName, const wchar_t* domain)
{
    int32_t decision = 0;
    DWORD size = sizeof(decision);
    if (Registry.QueryValueEx(key, storedName, nullptr, nullptr, reinterpret_cast<BYTE*>(&decision), &size) !=
            ERROR_SUCCESS ||
        size != sizeof(decision) || Registry.DeleteValue(key, storedName) != ERROR_SUCCESS)
        return;
    const BYTE* data = reinterpret_cast<const BYTE*>(&decision);
    if (Registry.SetValueEx(key, domain, 0, REG_DWORD, data, sizeof(decision)) != ERROR_SUCCESS)
        Registry.SetValueEx(key, storedName, 0, REG_DWORD, data, sizeof(decision));
}

// Deletes every value whose name is none of the table's domains: the ones the
// table dropped, and junk such as the default value or names too long to load.
// Names that match a domain only without regard to case are lower-cased, but
// only after a save whose every write went through.
static void TidyStoredValues(HKEY key, const NameSet* tableNames, bool everyWriteDone)
{
    DWORD valueCount = 0, longestName = 0;
    if (Registry.QueryInfoKey(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount,
                              &longestName, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
        return;

    // Collect first, change afterwards: deleting while enumerating would shift the indices.
    struct StoredName {
        wchar_t* name;
        const wchar_t* domain;  // null: stale
    };
    StoredName* changes = static_cast<StoredName*>(AllocateOrDie(uint64_t(valueCount) * sizeof(StoredName)));
    DWORD changeCount = 0;
    wchar_t* name = static_cast<wchar_t*>(AllocateOrDie((uint64_t(longestName) + 1) * sizeof(wchar_t)));
    for (DWORD i = 0; i < valueCount; ++i) {
        DWORD nameLength = longestName + 1;
        if (Registry.EnumValue(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS)
            continue;
        const wchar_t* domain = FindName(tableNames, name);
        if (!domain || (everyWriteDone && wcscmp(domain, name) != 0))
            changes[changeCount++] = {DuplicateText(name, nameLength), domain};
    }
    for (DWORD i = 0; i < changeCount; ++i) {
        if (changes[i].domain)
            LowerCaseStoredName(key, changes[i].name, changes[i].domain);
        else
            Registry.DeleteValue(key, changes[i].name);
        free(changes[i].name);
    }
    free(name);
    free(changes);
}

// Writes every entry first and only then removes what the table no longer
// holds, so a failure or a kill part-way loses no decision saved before, but
// for the rename of a name another program wrote in mixed case (above).
void SaveDecisions()
{
    HKEY key;
    if (Registry.CreateKeyEx(HKEY_CURRENT_USER, DECISIONS_KEY_PATH, 0, nullptr, REG_OPTION_NON_VOLATILE,
                             KEY_SET_VALUE | KEY_QUERY_VALUE, nullptr, &key, nullptr) != ERROR_SUCCESS)
        return;

    bool everyWriteDone = true;
    NameSet tableNames;
    // The registry tells value names apart by the system's case rule; the
    // stale-value check must agree with it or it would delete a value that was
    // just written under another case.
    InitNameSet(&tableNames, SiteDecisions.slotCount, SystemCaseFold());
    for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i) {
        SiteDecision* entry = SiteDecisions.slots[i];
        if (!entry || !entry->domain[0])
            continue;
        LowerCaseAscii(entry->domain);
        // A later entry of the same domain overwrites an earlier one. A failed
        // write still counts as the table's: whatever the key held for it stays.
        if (Registry.SetValueEx(key, entry->domain, 0, REG_DWORD, reinterpret_cast<const BYTE*>(&entry->decision),
                                sizeof(entry->decision)) != ERROR_SUCCESS)
            everyWriteDone = false;
        AddName(&tableNames, entry->domain);
    }
    TidyStoredValues(key, &tableNames, everyWriteDone);
    FreeNameSet(&tableNames);
    Registry.CloseKey(key);
}
