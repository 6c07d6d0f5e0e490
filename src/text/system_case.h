// The system's own case rule, as the registry compares value names and
// FindWindowW compares window titles: each code unit through the upper-case
// table of ntdll's RtlUpcaseUnicodeChar. Not the program's case rule for sites
// (text.h); no locale takes part in either.
#ifndef HALVANE_SYSTEM_CASE_H
#define HALVANE_SYSTEM_CASE_H

#include "text/text.h"

CharacterFold SystemCaseFold();

#endif
