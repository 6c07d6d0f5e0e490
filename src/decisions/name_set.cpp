#include "decisions/name_set.h"

#include "text/text.h"

#include <stdlib.h>
#include <string.h>

static uint32_t HashName(const wchar_t* name, CharacterFold fold)
{
    uint32_t hash = 2166136261u;  // FNV-1a over the folded code units
    for (; *name; ++name) {
        hash ^= static_cast<uint32_t>(fold(*name)) & 0xFFFFu;
        hash *= 16777619u;
    }
    return hash;
}

void InitNameSet(NameSet* set, uint32_t expectedNames, CharacterFold fold)
{
    uint32_t capacity = 16;
    while (capacity < 0x80000000u && capacity < uint64_t(expectedNames) * 2)
        capacity *= 2;
    set->buckets = static_cast<const wchar_t**>(AllocateOrDie(uint64_t(capacity) * sizeof(wchar_t*)));
    memset(set->buckets, 0, capacity * sizeof(wchar_t*));
    set->capacity = capacity;
    set->count = 0;
    set->fold = fold;
}

static uint32_t FindBucket(const NameSet* set, const wchar_t* name)
{
    uint32_t mask = set->capacity - 1;
    uint32_t i = HashName(name, set->fold) & mask;
    while (set->buckets[i] && !EqualAfterFold(set->buckets[i], name, set->fold))
        i = (i + 1) & mask;
    return i;
}

static void Grow(NameSet* set)
{
    NameSet bigger;
    bigger.capacity = set->capacity * 2;
    bigger.buckets = static_cast<const wchar_t**>(AllocateOrDie(uint64_t(bigger.capacity) * sizeof(wchar_t*)));
    memset(bigger.buckets, 0, bigger.capacity * sizeof(wchar_t*));
    bigger.count = 0;
    bigger.fold = set->fold;
    for (uint32_t i = 0; i < set->capacity; ++i) {
        if (set->buckets[i])
            bigger.buckets[FindBucket(&bigger, set->buckets[i])] = set->buckets[i];
    }
    bigger.count = set->count;
    free(set->buckets);
    *set = bigger;
}

void AddName(NameSet* set, const wchar_t* name)
{
    if (uint64_t(set->count + 1) * 2 > set->capacity)
        Grow(set);
    uint32_t i = FindBucket(set, name);
    if (!set->buckets[i]) {
        set->buckets[i] = name;
        ++set->count;
    }
}

const wchar_t* FindName(const NameSet* set, const wchar_t* name)
{
    return set->buckets[FindBucket(set, name)];
}

bool ContainsName(const NameSet* set, const wchar_t* name)
{
    return FindName(set, name) != nullptr;
}

void FreeNameSet(NameSet* set)
{
    free(set->buckets);
    set->buckets = nullptr;
    set->capacity = set->count = 0;
}
