// Where administrators' policy for Halvane lives: the same key under
// HKEY_LOCAL_MACHINE and HKEY_CURRENT_USER, the machine's value winning.
// halvane.exe, the browser host and the Group Policy templates all name these
// (the templates' check reads them from here).
#ifndef HALVANE_POLICY_KEYS_H
#define HALVANE_POLICY_KEYS_H

#define POLICY_KEY_PATH L"Software\\Policies\\Marrowin\\Halvane"
// Subkeys of string values named 1, 2, 3, ..., as Group Policy writes a list.
#define POLICY_ALLOWED_SITES L"AllowedSites"
#define POLICY_BLOCKED_SITES L"BlockedSites"
// REG_DWORD: 2 never asks (a site that nothing allows is declined), 3 or anything else asks.
#define POLICY_DEFAULT_DECISION L"DefaultDecision"

#endif
