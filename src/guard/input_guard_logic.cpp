#include "guard/input_guard_logic.h"

namespace {

enum : uint32_t {
    KeyDown = 0x0100,        // WM_KEYDOWN
    Char = 0x0102,           // WM_CHAR
    DeadChar = 0x0103,       // WM_DEADCHAR
    SysKeyDown = 0x0104,     // WM_SYSKEYDOWN
    SysChar = 0x0106,        // WM_SYSCHAR
    SysDeadChar = 0x0107,    // WM_SYSDEADCHAR
    UniChar = 0x0109,        // WM_UNICHAR
    LeftDown = 0x0201,       // WM_LBUTTONDOWN
    LeftDouble = 0x0203,     // WM_LBUTTONDBLCLK
    RightDown = 0x0204,
    RightDouble = 0x0206,
    MiddleDown = 0x0207,
    MiddleDouble = 0x0209,
    ExtraDown = 0x020B,      // WM_XBUTTONDOWN
    ExtraDouble = 0x020D,
    Escape = 0x1B,           // VK_ESCAPE, and the character Escape makes
    F4 = 0x73,               // VK_F4
    RepeatBit = 0x40000000,  // lParam: the key was already down
};

bool IsKeyPress(uint32_t message)
{
    switch (message) {
    case KeyDown: case Char: case DeadChar: case SysKeyDown: case SysChar: case SysDeadChar: case UniChar:
        return true;
    }
    return false;
}

bool IsButtonPress(uint32_t message)
{
    switch (message) {
    case LeftDown: case LeftDouble: case RightDown: case RightDouble:
    case MiddleDown: case MiddleDouble: case ExtraDown: case ExtraDouble:
        return true;
    }
    return false;
}

bool Dismisses(const GuardedInput& input)
{
    if (IsButtonPress(input.message))
        return input.aimedAtCancel;
    if (input.message == SysKeyDown && input.wParam == F4)
        return true;
    return (input.message == KeyDown || input.message == SysKeyDown || input.message == Char) &&
           input.wParam == Escape;
}

}  // namespace

uint32_t InputGuardTime(uint32_t doubleClickTime)
{
    if (doubleClickTime < GuardShortest)
        return GuardShortest;
    return doubleClickTime > GuardLongest ? GuardLongest : doubleClickTime;
}

bool InputCounts(const GuardedInput& input, const GuardClock& clock)
{
    bool key = IsKeyPress(input.message);
    if ((!key && !IsButtonPress(input.message)) || Dismisses(input))
        return true;
    if (!clock.active || (key && (input.lParam & RepeatBit)))
        return false;
    // The tick wraps after 49.7 days: compare the difference, signed, so that a
    // press from before the prompt was shown is never taken for a late one.
    return static_cast<int32_t>(input.time - clock.since) >= static_cast<int32_t>(clock.guardTime);
}
