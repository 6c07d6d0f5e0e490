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

SiteDecision* AddDecision(wchar_t* domain, int32_t decision)
{
    LowerCaseAscii(domain);
    for (uint32_t i = 0; i < SiteDecisions.slotCount; ++i) {
        if (!SiteDecisions.slots[i])
            return SiteDecisions.slots[i] = NewEntry(domain, decision);
    }
    // No empty slot: grow by exactly one. Only the references move, never the entries.
    uint32_t count = SiteDecisions.slotCount;
    SiteDecision** grown =
        static_cast<SiteDecision**>(AllocateOrDie((uint64_t(count) + 1) * sizeof(SiteDecision*)));
    if (count)
        memcpy(grown, SiteDecisions.slots, count * sizeof(SiteDecision*));
    grown[count] = NewEntry(domain, decision);
    free(SiteDecisions.slots);
    SiteDecisions.slots = grown;
    SiteDecisions.slotCount = count + 1;
    return grown[count];
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
}
