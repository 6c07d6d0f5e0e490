#include "decisions/decision_table.h"

#include "text/text.h"

#include <stdlib.h>
#include <string.h>
#include <wchar.h>

SiteDecisionTable SiteDecisions;

static SiteDecision* NewEntry(wchar_t* domain, int32_t decision)
{
    SiteDecision* entry = static_cast<SiteDecision*>(AllocateOrDie(sizeof(SiteDecision)));
    entry->domain = domain;
    entry->decision = decision;
    return entry;
}

static void ReleaseEntry(SiteDecision* entry)
{
    free(entry->domain);
    free(entry);
}

int32_t FindDecision(const wchar_t* site)
{
    for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i) {
        SiteDecision* entry = SiteDecisions.slots[i];
        if (entry && EqualIgnoringAsciiCase(entry->domain, site))
            return entry->decision;
    }
    return NoDecision;
}

// Doubles the allocation, so that a table filled one AddDecision at a time
// copies each reference a bounded number of times.
static void GrowSlots()
{
    uint32_t capacity = SiteDecisions.capacity ? SiteDecisions.capacity * 2 : 8;
    SiteDecision** grown = static_cast<SiteDecision**>(AllocateOrDie(uint64_t(capacity) * sizeof(SiteDecision*)));
    if (SiteDecisions.slotCount)
        memcpy(grown, SiteDecisions.slots, SiteDecisions.slotCount * sizeof(SiteDecision*));
    free(SiteDecisions.slots);
    SiteDecisions.slots = grown;
    SiteDecisions.capacity = capacity;
}

SiteDecision* AddDecision(wchar_t* domain, int32_t decision)
{
    LowerCaseAscii(domain);
    // The lowest empty slot, or one more slot: the order of the slots is the
    // order of the Preferences list and of the stored values.
    uint32_t i = SiteDecisions.freeHint;
    while (i < SiteDecisions.slotCount && SiteDecisions.slots[i])
        ++i;
    if (i == SiteDecisions.slotCount) {
        // Only the references move, never the entries.
        if (SiteDecisions.slotCount == SiteDecisions.capacity)
            GrowSlots();
        ++SiteDecisions.slotCount;
    }
    SiteDecisions.freeHint = i + 1;
    return SiteDecisions.slots[i] = NewEntry(domain, decision);
}

SiteDecision* UpdateDecision(wchar_t* domain, int32_t decision)
{
    LowerCaseAscii(domain);
    for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i) {
        SiteDecision* entry = SiteDecisions.slots[i];
        if (entry && EqualIgnoringAsciiCase(entry->domain, domain)) {
            entry->decision = decision;
            return entry;
        }
    }
    return nullptr;
}

void RemoveDecision(SiteDecision* entry)
{
    if (!entry)
        return;  // would otherwise match the first emptied slot
    for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i) {
        if (SiteDecisions.slots[i] == entry) {
            ReleaseEntry(entry);
            SiteDecisions.slots[i] = nullptr;
            if (i < SiteDecisions.freeHint)
                SiteDecisions.freeHint = i;
            return;
        }
    }
}

void RenameDecision(SiteDecision* entry, const wchar_t* text, uint32_t length)
{
    wchar_t* domain = DuplicateText(text, length);
    LowerCaseAscii(domain);
    free(entry->domain);
    entry->domain = domain;
}

void ResetDecisionTable(uint32_t slotCount)
{
    ClearDecisionTable();
    if (slotCount) {
        SiteDecisions.slots =
            static_cast<SiteDecision**>(AllocateOrDie(uint64_t(slotCount) * sizeof(SiteDecision*)));
        memset(SiteDecisions.slots, 0, slotCount * sizeof(SiteDecision*));
    }
    SiteDecisions.slotCount = slotCount;
    SiteDecisions.capacity = slotCount;
}

void PutDecisionInSlot(uint32_t slot, wchar_t* domain, int32_t decision)
{
    SiteDecisions.slots[slot] = NewEntry(domain, decision);
}

void ClearDecisionTable()
{
    for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i) {
        if (SiteDecisions.slots[i])
            ReleaseEntry(SiteDecisions.slots[i]);
    }
    free(SiteDecisions.slots);
    SiteDecisions.slots = nullptr;
    SiteDecisions.slotCount = 0;
    SiteDecisions.capacity = 0;
    SiteDecisions.freeHint = 0;
}
