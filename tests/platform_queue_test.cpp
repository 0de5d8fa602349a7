// The Linux layer's message queue and window life cycle, on windows with no
// X window behind them: what the shell's loop relies on from PeekMessageA,
// GetMessageA, timers, the quit message and the default close handling; the
// X key and size events as messages; the visual picked for a pixel format.

#include <gtest/gtest.h>

#include <X11/X.h>
#include <X11/keysym.h>
#include <time.h>

#include <algorithm>
#include <cstdlib>
#include <utility>
#include <vector>

#include "platform_test.h"

namespace {

struct Seen {
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    bool controlHeld;  // GetKeyState(VK_CONTROL) while it was handled
};
std::vector<Seen> seen;

LRESULT CALLBACK Recorder(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    seen.push_back({message, wParam, lParam, GetKeyState(VK_CONTROL) < 0});
    if (message == WM_USER + 7) return 1234;
    return DefWindowProcA(window, message, wParam, lParam);
}

long long NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<long long>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

class PlatformQueue : public testing::Test {
protected:
    HWND window = nullptr;
    void SetUp() override {
        seen.clear();
        window = platform_test::CreateDetachedWindow(Recorder, {0, 0}, 100, 100);
        // Whatever an earlier case left behind.
        for (MSG left; PeekMessageA(&left, nullptr, 0, 0, PM_REMOVE);) {
        }
    }
    void TearDown() override { DestroyWindow(window); }
};

TEST_F(PlatformQueue, PeekWithoutRemovingOnlyLooksAndGetTakesInOrder) {
    MSG message = {};
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    ASSERT_TRUE(PostMessageA(window, WM_USER + 1, 11, 12));
    ASSERT_TRUE(PostMessageA(window, WM_USER + 2, 21, 22));
    for (int i = 0; i < 3; ++i) {
        ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
        EXPECT_EQ(message.message, UINT{WM_USER + 1});
    }
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    EXPECT_EQ(message.hwnd, window);
    EXPECT_EQ(message.wParam, WPARAM{11});
    EXPECT_EQ(message.lParam, 12);
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    EXPECT_EQ(message.message, UINT{WM_USER + 2});
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_TRUE(seen.empty()) << "nothing is dispatched by looking";

    EXPECT_EQ(DispatchMessageA(&message), 0);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].message, UINT{WM_USER + 2});
}

TEST_F(PlatformQueue, SendIsADirectCallWithItsResult) {
    EXPECT_EQ(SendMessageA(window, WM_USER + 7, 5, 0), 1234);
    ASSERT_EQ(seen.size(), 1u);
    MSG message = {};
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(SendMessageA(nullptr, WM_USER + 7, 5, 0), 0);
    EXPECT_EQ(seen.size(), 1u);
}

TEST_F(PlatformQueue, QuitComesAfterPostedMessagesAndEndsGetMessageWithItsCode) {
    PostQuitMessage(3);
    PostMessageA(window, WM_USER + 1, 0, 0);
    MSG message = {};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(message.message, UINT{WM_USER + 1});
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
    EXPECT_EQ(message.message, UINT{WM_QUIT});
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
    EXPECT_EQ(message.message, UINT{WM_QUIT});
    EXPECT_EQ(message.wParam, WPARAM{3});
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
}

TEST_F(PlatformQueue, TimerArrivesWhenDueWithItsIdAndWaitsBlockUntilThen) {
    MSG message = {};
    ASSERT_EQ(SetTimer(window, 9, 60000, nullptr), UINT_PTR{9});
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE)) << "not due for a minute";

    const long long start = NowMs();
    ASSERT_EQ(SetTimer(window, 1, 40, nullptr), UINT_PTR{1});
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    EXPECT_GE(NowMs() - start, 40);
    EXPECT_EQ(message.hwnd, window);
    EXPECT_EQ(message.message, UINT{WM_TIMER});
    EXPECT_EQ(message.wParam, WPARAM{1});
    DispatchMessageA(&message);
    ASSERT_EQ(seen.size(), 1u);
    EXPECT_EQ(seen[0].message, UINT{WM_TIMER});
    EXPECT_EQ(seen[0].wParam, WPARAM{1});

    // A killed timer sends nothing more; only the minute-long one is left.
    EXPECT_TRUE(KillTimer(window, 1));
    EXPECT_FALSE(KillTimer(window, 1));
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE));
}

// Windows keeps at most one tick of a timer waiting: after a stall of many
// periods the next tick comes a whole period after the late one, not at once.
TEST_F(PlatformQueue, AStallLeavesOneTickNotABacklog) {
    ASSERT_EQ(SetTimer(window, 1, 20, nullptr), UINT_PTR{1});
    const timespec stall{0, 200 * 1000 * 1000};
    nanosleep(&stall, nullptr);
    MSG late = {};
    MSG next = {};
    ASSERT_EQ(GetMessageA(&late, nullptr, 0, 0), TRUE);
    ASSERT_EQ(GetMessageA(&next, nullptr, 0, 0), TRUE);
    ASSERT_TRUE(late.message == WM_TIMER && next.message == WM_TIMER);
    EXPECT_GE(next.time - late.time, DWORD{20});
}

// A timer is due in the very millisecond its period ends: left for the next
// one, a waiting loop would spin through that millisecond on every tick.
TEST_F(PlatformQueue, TimerIsDeliveredInTheMillisecondItFallsDue) {
    long long set = 0;
    do {  // the due time is known only if SetTimer ran within one millisecond
        set = NowMs();
        ASSERT_EQ(SetTimer(window, 1, 10, nullptr), UINT_PTR{1});
    } while (NowMs() != set);
    const long long due = set + 10;
    for (MSG message = {};;) {
        const long long before = NowMs();
        const bool delivered = PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);
        if (delivered) break;
        ASSERT_FALSE(before >= due && NowMs() == before) << "not delivered at " << before - due << " ms past due";
    }
    KillTimer(window, 1);
}

TEST_F(PlatformQueue, CloseCommandReachesCloseThenDestroy) {
    SetTimer(window, 1, 10, nullptr);
    // Alt+F4, where the window manager leaves it to the program, becomes the
    // command that the window manager's close button posts.
    EXPECT_EQ(DefWindowProcA(window, WM_SYSKEYDOWN, VK_F4, LPARAM{1} << 29), 0);
    MSG message = {};
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    DispatchMessageA(&message);
    const std::vector<UINT> expected = {WM_SYSCOMMAND, WM_CLOSE, WM_DESTROY, WM_NCDESTROY};
    ASSERT_EQ(seen.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) EXPECT_EQ(seen[i].message, expected[i]) << i;
    // Gone with its timer: nothing more is delivered to it.
    EXPECT_FALSE(DestroyWindow(window));
    EXPECT_EQ(SetTimer(window, 1, 10, nullptr), UINT_PTR{0});
    EXPECT_FALSE(PostMessageA(window, WM_USER, 0, 0));
    EXPECT_EQ(GetDC(window), nullptr);
}

// Keys from the X server, left by the window procedure to the default as the
// shell does: Alt+F4 closes the window, Shift+F4 is an ordinary key.
TEST_F(PlatformQueue, AltF4FromTheXServerClosesShiftF4DoesNot) {
    constexpr unsigned kF4 = 70, kShift = 50, kAlt = 64;  // X keycodes of a PC keyboard
    const auto dispatchAll = [] {
        for (MSG message; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) DispatchMessageA(&message);
    };
    const auto sawClose = [] {
        return std::any_of(seen.begin(), seen.end(), [](const Seen& s) { return s.message == WM_CLOSE; });
    };
    platform_test::TranslateXKey(window, XK_Shift_L, kShift, 0, true);
    platform_test::TranslateXKey(window, XK_F4, kF4, ShiftMask, true);
    platform_test::TranslateXKey(window, XK_F4, kF4, ShiftMask, false);
    platform_test::TranslateXKey(window, XK_Shift_L, kShift, ShiftMask, false);
    dispatchAll();
    ASSERT_EQ(seen.size(), 4u);
    EXPECT_EQ(seen[1].message, UINT{WM_KEYDOWN});
    EXPECT_EQ(seen[1].wParam, WPARAM{VK_F4});
    EXPECT_FALSE(sawClose()) << "Shift+F4 closed the window";

    seen.clear();
    platform_test::TranslateXKey(window, XK_Alt_L, kAlt, 0, true);
    platform_test::TranslateXKey(window, XK_F4, kF4, Mod1Mask, true);
    platform_test::TranslateXKey(window, XK_F4, kF4, Mod1Mask, false);
    platform_test::TranslateXKey(window, XK_Alt_L, kAlt, Mod1Mask, false);
    dispatchAll();
    EXPECT_TRUE(sawClose()) << "Alt+F4 left the window open";
    EXPECT_EQ(GetDC(window), nullptr) << "the window was not destroyed";
}

// X input as a panel fed from the window procedure reads it, all of it
// received before the first message is taken: the wheel's notches with the
// modifiers, the point and the minus typed as characters, and Control held
// for the messages between its own press and release, not as it is now.
TEST_F(PlatformQueue, WheelCharactersAndControlAsAPanelReadsThem) {
    constexpr unsigned kControl = 37, kPeriod = 60, kMinus = 20;  // X keycodes of a PC keyboard
    platform_test::TranslateXKey(window, XK_Control_L, kControl, 0, true);
    platform_test::TranslateXKey(window, XK_period, kPeriod, ControlMask, true);
    platform_test::TranslateXKey(window, XK_period, kPeriod, ControlMask, false);
    for (const unsigned button : {Button4, Button5}) {
        platform_test::TranslateXButton(window, button, ControlMask, true);
        platform_test::TranslateXButton(window, button, ControlMask, false);
    }
    platform_test::TranslateXKey(window, XK_Control_L, kControl, ControlMask, false);
    platform_test::TranslateXKey(window, XK_minus, kMinus, 0, true);
    platform_test::TranslateXKey(window, XK_minus, kMinus, 0, false);
    for (MSG message; PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE);) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
    const std::vector<Seen> expected = {
        {WM_KEYDOWN, VK_CONTROL, 0, true},
        {WM_KEYDOWN, VK_OEM_PERIOD, 0, true},
        {WM_CHAR, '.', 0, true},
        {WM_KEYUP, VK_OEM_PERIOD, 0, true},
        {WM_MOUSEWHEEL, MK_CONTROL | (WPARAM{WHEEL_DELTA} << 16), 0, true},
        {WM_MOUSEWHEEL, MK_CONTROL | (WPARAM{0x10000u - WHEEL_DELTA} << 16), 0, true},
        {WM_KEYUP, VK_CONTROL, 0, false},
        {WM_KEYDOWN, VK_OEM_MINUS, 0, false},
        {WM_CHAR, '-', 0, false},
        {WM_KEYUP, VK_OEM_MINUS, 0, false},
    };
    ASSERT_EQ(seen.size(), expected.size());
    for (size_t i = 0; i < expected.size(); ++i) {
        EXPECT_EQ(seen[i].message, expected[i].message) << i;
        EXPECT_EQ(seen[i].wParam, expected[i].wParam) << i;
        EXPECT_EQ(seen[i].controlHeld, expected[i].controlHeld) << i;
    }
}

// The window manager may change one side only; the program still learns
// the new size, and only when there is one.
TEST_F(PlatformQueue, EverySizeTheWindowManagerGivesIsReportedOnce) {
    for (const auto& [width, height] : {std::pair{100, 100}, {300, 100}, {300, 100}, {300, 250}, {120, 250}}) {
        platform_test::TranslateXMapAndSize(window, width, height);
    }
    std::vector<LPARAM> sizes;
    for (const Seen& s : seen) {
        if (s.message == WM_SIZE) sizes.push_back(s.lParam);
    }
    EXPECT_EQ(sizes, (std::vector<LPARAM>{MAKELPARAM(100, 100), MAKELPARAM(300, 100), MAKELPARAM(300, 250),
                                          MAKELPARAM(120, 250)}));
}

TEST_F(PlatformQueue, TranslateMessageAddsCharactersForTextKeysOnly) {
    MSG key = {window, WM_KEYDOWN, 'Q', 0x00180001, 0, {0, 0}};
    EXPECT_TRUE(TranslateMessage(&key));
    key.wParam = VK_UP;
    EXPECT_FALSE(TranslateMessage(&key));
    key.message = WM_KEYUP;
    key.wParam = 'Q';
    EXPECT_FALSE(TranslateMessage(&key));
    MSG message = {};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, UINT{WM_CHAR});
    EXPECT_EQ(message.wParam, WPARAM{'q'});
    EXPECT_FALSE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
}

// The visual for the shell's request (24 depth bits; 32 stencil and 32
// accumulation bits, more than visuals have): the one with the depth bits
// asked for, never one without a depth or a stencil buffer, whatever other
// bits that one has more.
TEST(PlatformPixelFormat, TheShellsRequestGetsADepthAndAStencilBuffer) {
    PIXELFORMATDESCRIPTOR request = {};
    request.nSize = sizeof request;
    request.nVersion = 1;
    request.dwFlags = PFD_DRAW_TO_WINDOW | PFD_SUPPORT_OPENGL | PFD_DOUBLEBUFFER;
    request.iPixelType = PFD_TYPE_RGBA;
    request.cColorBits = 32;
    request.cAccumBits = 32;
    request.cDepthBits = 24;
    request.cStencilBits = 32;
    using Visuals = std::vector<platform_test::VisualTraits>;
    // Servers list visuals with fewer buffers first.
    EXPECT_EQ(platform_test::ClosestPixelFormat(Visuals{{true, 32, 0, 0, 64},
                                                        {true, 32, 24, 0, 64},
                                                        {true, 32, 0, 8, 64},
                                                        {true, 32, 16, 8, 64},
                                                        {true, 32, 24, 8, 64},
                                                        {false, 32, 24, 8, 64}},
                                                request),
              5);
    EXPECT_EQ(platform_test::ClosestPixelFormat(Visuals{{true, 32, 0, 8, 64}, {true, 32, 24, 0, 64}, {true, 32, 24, 8, 0}},
                                                request),
              3);
}

TEST(PlatformClasses, RegisteredOnceUnregisteredOnceAndTheFailSwitchesHold) {
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Recorder;
    windowClass.lpszClassName = "PlatformClassesTest";
    EXPECT_NE(RegisterClassA(&windowClass), 0);
    EXPECT_EQ(RegisterClassA(&windowClass), 0) << "already registered";
    platform_test::SetFailing("UnregisterClassA", true);
    EXPECT_FALSE(UnregisterClassA("PlatformClassesTest", nullptr));
    platform_test::SetFailing("UnregisterClassA", false);
    EXPECT_TRUE(UnregisterClassA("platformclassestest", nullptr)) << "names ignore case";
    EXPECT_FALSE(UnregisterClassA("PlatformClassesTest", nullptr));
    platform_test::SetFailing("RegisterClassA", true);
    EXPECT_EQ(RegisterClassA(&windowClass), 0);
    platform_test::SetFailing("RegisterClassA", false);
}

TEST(PlatformClasses, WithoutADisplayNoWindowIsMadeAndTheLoopEnds) {
    unsetenv("DISPLAY");
    WNDCLASSA windowClass = {};
    windowClass.lpfnWndProc = Recorder;
    windowClass.lpszClassName = "NoDisplayTest";
    ASSERT_NE(RegisterClassA(&windowClass), 0);
    seen.clear();
    EXPECT_EQ(CreateWindowExA(0, "NoDisplayTest", "t", 0, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT,
                              CW_USEDEFAULT, nullptr, nullptr, nullptr, nullptr),
              nullptr);
    EXPECT_TRUE(seen.empty());
    // Instead of a loop that renders into nothing for ever.
    MSG message = {};
    EXPECT_EQ(GetMessageA(&message, nullptr, 0, 0), FALSE);
    EXPECT_EQ(message.wParam, WPARAM{1});
    EXPECT_TRUE(UnregisterClassA("NoDisplayTest", nullptr));
}

}  // namespace
