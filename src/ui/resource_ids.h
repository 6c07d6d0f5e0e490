// Identifiers shared by the resource scripts and the code.
// Kept free of anything but #defines so that windres can read it too.
#ifndef HALVANE_RESOURCE_IDS_H
#define HALVANE_RESOURCE_IDS_H

// Dialog templates and the icon group.
#define IDD_CONSENT_PROMPT      102
#define IDD_PREFERENCES         103
#define IDI_APP                 104

// Controls. IDOK (1) and IDCANCEL (2) are the standard ids from <windows.h>.
// 1005 and 1006 are not used.
#define IDC_PREFERENCES         1000
#define IDC_MESSAGE             1001
#define IDC_ALWAYS              1002
#define IDC_JUST_THIS_TIME      1003
#define IDC_NEVER               1004
#define IDC_SITE_LIST           1007
#define IDC_ADD                 1008
#define IDC_REMOVE              1009

// Strings: every language holds exactly these seventeen.
#define IDS_OK                  150
#define IDS_CANCEL              151
#define IDS_ALWAYS              152
#define IDS_JUST_THIS_TIME      153
#define IDS_NEVER               154
#define IDS_PREFERENCES_BUTTON  155
#define IDS_PROMPT_MESSAGE      156
#define IDS_PROMPT_CAPTION      157
#define IDS_PREFERENCES_CAPTION 158
#define IDS_ADD                 159
#define IDS_REMOVE              160
#define IDS_COLUMN_DOMAIN       161
#define IDS_COLUMN_DECISION     162
#define IDS_ALLOW               163
#define IDS_DENY                164
// The decision of a site the administrators' policy decides (Preferences).
#define IDS_POLICY_ALLOWED      165
#define IDS_POLICY_BLOCKED      166

#define IDS_FIRST               IDS_OK
#define IDS_LAST                IDS_POLICY_BLOCKED

#endif
