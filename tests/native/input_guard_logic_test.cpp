// Which presses may answer the consent prompt: the rule on its own, with the
// tick near its wrap, where an unsigned comparison would let an old press through.
#include "guard/input_guard_logic.h"

#include <gtest/gtest.h>

namespace {

enum : uint32_t {
    KeyDown = 0x100, KeyUp = 0x101, Char = 0x102, SysKeyDown = 0x104, SysChar = 0x106,
    LeftDown = 0x201, LeftUp = 0x202, LeftDouble = 0x203, RightDown = 0x204, MouseMove = 0x200,
    Space = 0x20, Return = 0x0D, Escape = 0x1B, F4 = 0x73,
    Repeat = 0x40000000,
};

struct Case {
    const char* name;
    GuardedInput input;  // times relative to the guard's start
    bool active;
    bool counts;
};

TEST(InputGuard, JudgesEachPressByItsOwnTimeTheActivationAndTheRepeatBit)
{
    const Case cases[] = {
        {"click at once", {LeftDown, 1, 0, 0, false}, true, false},
        {"click just before the guard time", {LeftDown, 1, 0, 499, false}, true, false},
        {"click at the guard time", {LeftDown, 1, 0, 500, false}, true, true},
        {"double click too soon", {LeftDouble, 1, 0, 10, false}, true, false},
        {"right click too soon", {RightDown, 2, 0, 10, false}, true, false},
        {"click from before the guard started", {LeftDown, 1, 0, uint32_t(-600), false}, true, false},
        {"click while inactive", {LeftDown, 1, 0, 5000, false}, false, false},
        {"release too soon", {LeftUp, 0, 0, 0, false}, true, true},
        {"key up too soon", {KeyUp, Space, 0xC0000001, 0, false}, true, true},
        {"mouse move too soon", {MouseMove, 0, 0, 0, false}, true, true},
        {"click on Cancel at once", {LeftDown, 1, 0, 0, true}, true, true},
        {"click on Cancel while inactive", {LeftDown, 1, 0, 0, true}, false, true},
        {"space too soon", {KeyDown, Space, 1, 100, false}, true, false},
        {"space in time", {KeyDown, Space, 1, 600, false}, true, true},
        {"space held down", {KeyDown, Space, 1 | Repeat, 600, false}, true, false},
        {"enter's character held down", {Char, '\r', 1 | Repeat, 600, false}, true, false},
        {"a character too soon", {Char, 'a', 1, 100, false}, true, false},
        {"alt and a letter too soon", {SysChar, 'a', 1, 100, false}, true, false},
        {"escape at once", {KeyDown, Escape, 1, 0, false}, true, true},
        {"escape held down while inactive", {KeyDown, Escape, 1 | Repeat, 0, false}, false, true},
        {"escape's character at once", {Char, Escape, 1, 0, false}, true, true},
        {"alt+f4 at once", {SysKeyDown, F4, 0x20000001, 0, false}, true, true},
        {"f4 without alt too soon", {KeyDown, F4, 1, 0, false}, true, false},
    };
    // Once with the guard started long after boot, once just before the tick wraps.
    for (uint32_t start : {100000u, uint32_t(-300)}) {
        for (const Case& c : cases) {
            GuardedInput input = c.input;
            input.time += start;
            EXPECT_EQ(InputCounts(input, GuardClock{c.active, start, 500}), c.counts) << c.name << " from " << start;
        }
    }
}

TEST(InputGuard, TheGuardTimeIsTheDoubleClickTimeKeptWithinHalfASecondAndOne)
{
    const uint32_t cases[][2] = {{0, 500}, {200, 500}, {500, 500}, {700, 700}, {1000, 1000}, {5000, 1000}};
    for (const auto& [doubleClickTime, guardTime] : cases)
        EXPECT_EQ(InputGuardTime(doubleClickTime), guardTime) << doubleClickTime;
}

}  // namespace
