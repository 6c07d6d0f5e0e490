// A set of value names, compared the way the store compares them, used by
// SaveDecisions to find the stale values in one linear pass.
// Platform-free; the comparison is handed in as a character fold.
#ifndef HALVANE_NAME_SET_H
#define HALVANE_NAME_SET_H

#include <stdint.h>

#include "text/text.h"  // CharacterFold

struct NameSet {
    const wchar_t** buckets;  // open addressing; the set does not own the names
    uint32_t capacity;        // a power of two, at least twice the number of names
    uint32_t count;
    CharacterFold fold;
};

void InitNameSet(NameSet* set, uint32_t expectedNames, CharacterFold fold);
void AddName(NameSet* set, const wchar_t* name);
bool ContainsName(const NameSet* set, const wchar_t* name);
// The name as it was added that matches this one, or null.
const wchar_t* FindName(const NameSet* set, const wchar_t* name);
void FreeNameSet(NameSet* set);

#endif
