// How the browser host follows the Halvane it started, apart from the Windows
// calls that look at it: what one look shows, the messages each look calls for,
// what Halvane's end means, and the body of every message the host sends.
// Platform-free, so it is unit-tested and fuzzed natively.
#ifndef HALVANE_HOST_WATCH_H
#define HALVANE_HOST_WATCH_H

#include "host/host_message.h"

#include <stdint.h>

#include <string>
#include <vector>

enum : uint32_t {
    WatchIntervalMs = 100,       // between two looks at a running Halvane
    KeptWatchIntervalMs = 1000,  // the same once the window is kept
    BusyPollMs = 50,             // between two looks for another Halvane before starting one
    BusyWaitMs = 2000,           // how long one that is ending is waited for
    WithdrawWaitMs = 1000,       // how long a Halvane the host ended is waited for
};

// One look at a Halvane that runs.
struct WatchSample {
    bool promptShown;    // a top-level window of Halvane's process is visible
    bool windowTopmost;  // the browser window, as identified before Halvane started, is in the topmost band
    // A top-level window of Halvane's showed since the last look, as Windows
    // reported its showing: a prompt answered with Escape at once is gone
    // before any look, yet it showed.
    bool promptShowedSince;
};

// The site's decision as Halvane stores it: read before Halvane starts, and
// again once it has ended. Any four-byte value but 0 and 1 is Other, which
// Halvane acts on as it does on a Deny: it does nothing.
enum StoredDecision { StoredNone, StoredDeny, StoredAllow, StoredOther };

// Looks in a row, after the prompt closed, before a window that was on top
// before Halvane started counts as kept: Halvane, answered with Cancel or
// Never, ends well within this (it only saves, at most), while a keep lasts.
enum : uint32_t { ClosedLooksForOldTopmost = 3 };

// What the host knew before Halvane started, what the looks so far have
// shown, and so what has been sent.
struct WatchState {
    bool allowedBefore = false;  // the site had a stored Allow, or policy allows it: Halvane keeps without asking
    bool policyKeeps = false;     // the administrators' policy allows the site
    bool policyDeclines = false;  // policy blocks the site, or its default never asks: Halvane ends at once
    bool topmostBefore = false;  // the window was on top already: not Halvane's doing
    bool promptShown = false;    // at the last look
    bool asked = false;          // the prompt showed, seen at a look or reported since one
    uint32_t closedLooks = 0;    // looks in a row without the prompt, since it last showed
    bool kept = false;           // "kept" was sent
};

// The messages one look calls for, in the order they are to be sent.
std::vector<std::string> WatchStep(WatchState* state, const WatchSample& sample);

// What Halvane's end means: "withdrawn", "error", "released", "declined",
// "dismissed", "not-found", "busy" or "no-prompt". Halvane says nothing
// itself, so this is read from whether the host ended it (withdrawn: the
// extension took the request back before an answer), its exit code, what the
// looks saw, the decision it may have stored, and whether another Halvane
// holds the single-instance mutex now that this one has ended (then this one
// found it taken and ended at once). "dismissed" only for a prompt that was
// seen and closed with nothing stored.
const char* EndOutcome(const WatchState& state, uint32_t exitCode, StoredDecision decision, bool otherRuns,
                       bool withdrawn);

// Whether a message the extension posts after its request takes the request
// back: exactly {"withdraw":true}. Anything else means nothing.
bool IsWithdrawal(const std::string& body);

// The bodies: {"event":"error","error":CODE,"message":TEXT} (a detail, such as a
// Windows error number, follows the message), {"event":"busy"},
// {"event":"started","pid":N} and {"event":"ended","outcome":O,"exitCode":N,
// "asked":B}, the exit code as the signed number Halvane returned (0 when the
// request was withdrawn before Halvane started) and B whether the prompt showed at all.
std::string ErrorEvent(HostError error, const std::string& detail = std::string());
std::string BusyEvent();
std::string StartedEvent(uint32_t processId);
std::string EndedEvent(const char* outcome, uint32_t exitCode, bool asked);
// {"event":"policy"}: the administrators' policy decides the request, so
// Halvane will neither ask nor store anything; sent after "started".
std::string PolicyEvent();

#endif
