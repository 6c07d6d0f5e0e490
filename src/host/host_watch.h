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
};

// One look at a Halvane that runs.
struct WatchSample {
    bool promptShown;    // a top-level window of Halvane's process is visible
    bool windowTopmost;  // the browser window Halvane looks for is in the topmost band
};

// What the looks so far have shown, and so what has been sent.
struct WatchState {
    bool promptShown = false;  // at the last look
    bool asked = false;        // the prompt showed at some look
    bool kept = false;         // "kept" was sent
};

// The site's decision as Halvane stores it, read once Halvane has ended.
enum StoredDecision { StoredNone, StoredDeny, StoredAllow };

// The messages one look calls for, in the order they are to be sent.
std::vector<std::string> WatchStep(WatchState* state, const WatchSample& sample);

// What Halvane's end means: "error", "released", "declined", "dismissed",
// "not-found" or "busy". Halvane says nothing itself, so this is read from its
// exit code, what the looks saw, the decision it may have stored, and whether
// another Halvane holds the single-instance mutex now that this one has ended
// (then this one found it taken and ended at once). A prompt closed between
// two looks (Escape at once) is still a dismissal.
const char* EndOutcome(const WatchState& state, uint32_t exitCode, StoredDecision decision, bool otherRuns);

// The bodies: {"event":"error","error":CODE,"message":TEXT} (a detail, such as a
// Windows error number, follows the message), {"event":"busy"},
// {"event":"started","pid":N} and {"event":"ended","outcome":O,"exitCode":N},
// the exit code as the signed number Halvane returned.
std::string ErrorEvent(HostError error, const std::string& detail = std::string());
std::string BusyEvent();
std::string StartedEvent(uint32_t processId);
std::string EndedEvent(const char* outcome, uint32_t exitCode);

#endif
