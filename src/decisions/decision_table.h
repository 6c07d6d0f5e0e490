// The in-memory table of remembered site decisions.
// Platform-free: the registry store (registry_store.cpp) and the dialogs sit on top of it.
#ifndef HALVANE_DECISION_TABLE_H
#define HALVANE_DECISION_TABLE_H

#include <stdint.h>

enum : int32_t {
    DecisionDeny = 0,   // "Never": the site may not keep its window on top
    DecisionAllow = 1,  // "Always"
    NoDecision = -1,    // what FindDecision gives for an unknown site; never stored by us
};

// One remembered site. Entries never move while in the table: their address is
// their identity, which the Preferences list keeps as each row's item data.
struct SiteDecision {
    wchar_t* domain;   // lower-cased (A-Z only); owned by the entry; may be empty
    int32_t decision;  // whatever was stored; not validated
};

struct SiteDecisionTable {
    SiteDecision** slots;  // each slot is null (emptied) or an entry
    uint32_t slotCount;    // never shrinks; slots beyond it are not in use
    uint32_t capacity;     // slots allocated: room to grow without a copy
    uint32_t freeHint;     // no slot below it is empty: where AddDecision looks first
};

// The one process-wide table, filled by LoadDecisions at start-up.
extern SiteDecisionTable SiteDecisions;

int32_t FindDecision(const wchar_t* site);
// Lower-cases domain in place; the new entry keeps the pointer itself, so the
// caller hands over ownership when the string was allocated for the table.
SiteDecision* AddDecision(wchar_t* domain, int32_t decision);
SiteDecision* UpdateDecision(wchar_t* domain, int32_t decision);
void RemoveDecision(SiteDecision* entry);
// Gives the entry a lower-cased copy of the first `length` characters of text,
// releasing its old domain (the rename of the Preferences list).
void RenameDecision(SiteDecision* entry, const wchar_t* text, uint32_t length);

// Puts a loaded entry into a given slot (the registry store fills slot i from value i).
void ResetDecisionTable(uint32_t slotCount);
void PutDecisionInSlot(uint32_t slot, wchar_t* domain, int32_t decision);

// Releases every entry and the slots; for tests and benchmarks that reuse the table.
void ClearDecisionTable();

#endif
