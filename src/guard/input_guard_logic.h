// Which input may answer the consent prompt: the rule apart from the platform.
// A page can make the prompt appear under the user's next click or key press;
// a press counts only once the prompt has been shown, active and still for the
// guard time, judged by the press's own message time.
#ifndef HALVANE_INPUT_GUARD_LOGIC_H
#define HALVANE_INPUT_GUARD_LOGIC_H

#include <stdint.h>

enum : uint32_t {
    GuardShortest = 500,   // ms; the system's double-click time, kept within these
    GuardLongest = 1000,
};

// The guard time for the system's double-click time.
uint32_t InputGuardTime(uint32_t doubleClickTime);

// A message of the prompt's modal loop, as the dialog manager is about to see it.
struct GuardedInput {
    uint32_t message;
    uintptr_t wParam;
    uintptr_t lParam;
    uint32_t time;      // its message time (the system's millisecond tick)
    bool aimedAtCancel; // sent to the Cancel button
};

struct GuardClock {
    bool active;        // the prompt is the active window
    uint32_t since;     // tick when it was last activated, shown or moved
    uint32_t guardTime;
};

// False for a press that must be ignored: a mouse button or key going down (or
// the character it makes) before the guard time has passed since clock.since,
// while the prompt is not active, or repeated by a key held down. Releases and
// every other message pass, and so does what dismisses the prompt: a press on
// Cancel, Escape and Alt+F4.
bool InputCounts(const GuardedInput& input, const GuardClock& clock);

#endif
