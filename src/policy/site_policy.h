// What an administrator's policy decides for a site, apart from the registry
// that holds it: the entries of the two lists, how a site matches them, and
// the order of policy, the user's own decision and the default.
// Platform-free, so it is unit-tested and fuzzed natively; policy_registry
// reads the lists from the registry into it.
#ifndef HALVANE_SITE_POLICY_H
#define HALVANE_SITE_POLICY_H

#include <stdint.h>

// One entry of a list: a host name alone, or with its subdomains ("[*.]host").
struct PolicyEntry {
    wchar_t* host;        // lower-cased (A-Z only), without "[*.]"; owned by the list
    bool withSubdomains;  // "[*.]": the host and every name that ends in "." and the host
};

struct PolicyList {
    PolicyEntry* entries;
    uint32_t count;
    uint32_t capacity;
};

// DefaultDecision's values; anything else asks, as 3 does.
enum : uint32_t { PolicyDefaultNeverAsk = 2, PolicyDefaultAsk = 3 };

struct SitePolicy {
    PolicyList allowed;
    PolicyList blocked;
    bool neverAsk;  // DefaultDecision 2: a site nothing allows is declined without a prompt
};

// The one process-wide policy, read at start-up; empty when there is none.
extern SitePolicy AdminPolicy;

// Whether text is an entry a list may hold: a host name (labels of letters,
// digits, '-' and '_', 1 to 63 characters each, 253 in all), or "[*.]" and a
// host name; spaces around it do not count, nor does the letters' case. On
// success *entry holds a new allocation that the caller owns.
bool ParsePolicyEntry(const wchar_t* text, PolicyEntry* entry);
// Adds the entry text makes, or nothing when it is not one. Never fails.
bool AddPolicyEntry(PolicyList* list, const wchar_t* text);
void ClearPolicy(SitePolicy* policy);

// How closely an entry matches a site: 0 for not at all; more for an entry
// that names more labels, and an exact host more than "[*.]" of the same host.
// The site is compared as it comes (lower-cased already), without one final ".".
uint32_t PolicyMatch(const PolicyEntry& entry, const wchar_t* site);

enum PolicyVerdict { PolicySilent, PolicyAllows, PolicyBlocks };
// The list whose closest entry matches the site more closely; block on a tie.
PolicyVerdict JudgeSite(const SitePolicy* policy, const wchar_t* site);

// What the program does with a request, and who decided it.
enum SiteRoad {
    RoadAsk,              // the prompt
    RoadKeepByPolicy,     // allowed by policy: kept as a remembered Allow is
    RoadDeclineByPolicy,  // blocked by policy, or declined by the "never ask" default
    RoadKeepByUser,       // the user's own Allow
    RoadDeclineByUser,    // the user's own Deny, or any other stored value
};
// Blocked by policy, then allowed by policy, then the user's own decision
// (userDecision as FindDecision gives it: -1 for none), then the default.
SiteRoad ChooseRoad(const SitePolicy* policy, const wchar_t* site, int32_t userDecision);

// One registry root's policy key, as policy_registry reads it. ReadList adds
// the list's entries (valid or not: AddPolicyEntry sorts them out) and says
// whether the root holds that list at all, that is a value in its subkey.
struct PolicySource {
    void* context;
    bool (*ReadList)(void* context, const wchar_t* listName, PolicyList* into);
    bool (*ReadDefault)(void* context, uint32_t* value);
};
// Each list and the default from the machine's source when it holds them,
// from the user's otherwise: policy set for the machine wins, value by value.
void BuildPolicy(const PolicySource& machine, const PolicySource& user, SitePolicy* policy);

#endif
