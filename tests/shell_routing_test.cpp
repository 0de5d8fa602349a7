// The window procedure's routing, driven natively through the Linux layer:
// each message goes straight into WndProc on a window with no X window
// behind it, and what it did is read back from the scene, the shell state
// and the layer's record of DefWindowProcA calls and cursor warps.

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform_test.h"
#include "shell/shell.h"
#include "view/math.h"
#include "demo/scene.h"

namespace {

constexpr POINT kOrigin = {200, 100};  // the client area's place on the screen

class ShellRouting : public testing::Test {
protected:
    HWND window = nullptr;
    std::string createLog;
    std::vector<platform_test::MessageBoxCall> createBoxes;

    void SetUp() override {
        setenv("PONDSIM_MESSAGEBOX", "stderr", 1);  // never wait for a click
        window = platform_test::CreateDetachedWindow(WndProc, kOrigin, 640, 480);
        // Creation as CreateWindowExA runs it, without a pixel format (so
        // without a context): every case starts from a scene just set up.
        platform_test::StartRecording();
        platform_test::SetFailing("ChoosePixelFormat", true);
        testing::internal::CaptureStdout();
        const LRESULT created = Send(WM_CREATE, 0, 0);
        createLog = testing::internal::GetCapturedStdout();
        platform_test::SetFailing("ChoosePixelFormat", false);
        ASSERT_EQ(created, 0);
        createBoxes = platform_test::MessageBoxes();
        ASSERT_EQ(Send(WM_SIZE, 0, MAKELPARAM(640, 480)), 0);
        ASSERT_NE(shellScene, nullptr);
        for (uint8_t& flag : Scene().input.flags) flag = 0;
        platform_test::StartRecording();
    }
    void TearDown() override { KillTimer(window, 1); }

    LRESULT Send(UINT message, WPARAM wParam, LPARAM lParam) {
        return WndProc(window, message, wParam, lParam);
    }

    ::Scene& Scene() { return *shellScene; }
    uint8_t Flag(int slot) { return Scene().input.flags[slot]; }
    // This case's window only: on a real desktop, activation passing to or
    // from another program also reaches the windows the earlier cases left.
    std::vector<platform_test::WindowCall> Defaults() const {
        std::vector<platform_test::WindowCall> calls;
        for (const auto& call : platform_test::DefWindowProcCalls()) {
            if (call.window == window) calls.push_back(call);
        }
        return calls;
    }
    size_t DefaultCalls() const { return Defaults().size(); }
};

bool SameCamera(const Camera& a, const Camera& b) {
    return std::memcmp(&a, &b, sizeof(Camera)) == 0;
}

TEST_F(ShellRouting, CreationGoesOnPastAFailedPixelFormatWithOneBox) {
    ASSERT_EQ(createBoxes.size(), 1u);
    EXPECT_EQ(createBoxes[0].text, "ChoosePixelFormat failed");
    EXPECT_EQ(createBoxes[0].caption, "Error");
    EXPECT_EQ(createBoxes[0].type, UINT{MB_OK});
    // The first message of the process also built the scene, with its 500.
    EXPECT_TRUE(createLog == "Allocating 3000 particles\n" ||
                createLog == "Allocating 500 particles\nAllocating 3000 particles\n")
        << createLog;
    EXPECT_EQ(Scene().system.particleCount, 3000);
    EXPECT_EQ(windowHandle, window);
    EXPECT_EQ(deviceContext, GetDC(window));
    EXPECT_EQ(renderContext, nullptr);
    // The simulation timer runs: identifier 1, every 64 ms.
    MSG message = {};
    ASSERT_EQ(GetMessageA(&message, nullptr, 0, 0), TRUE);
    EXPECT_EQ(message.hwnd, window);
    EXPECT_EQ(message.message, UINT{WM_TIMER});
    EXPECT_EQ(message.wParam, WPARAM{1});
}

TEST_F(ShellRouting, KeyTableSetsAndClearsItsFlagsAndNothingElse) {
    const struct {
        WPARAM key;
        int slot;
    } table[] = {
        {VK_RETURN, InputState::kEnter}, {VK_SHIFT, InputState::kShift},
        {VK_CONTROL, InputState::kControl}, {VK_ESCAPE, InputState::kEscape},
        {VK_LEFT, InputState::kLeft},       {VK_UP, InputState::kUp},
        {VK_RIGHT, InputState::kRight},     {VK_DOWN, InputState::kDown},
    };
    for (const auto& entry : table) {
        SCOPED_TRACE(entry.key);
        EXPECT_EQ(Send(WM_KEYDOWN, entry.key, 0), 0);
        for (int slot = 0; slot < 11; ++slot) EXPECT_EQ(Flag(slot), slot == entry.slot ? 1 : 0) << slot;
        // An auto-repeated press keeps the flag set.
        EXPECT_EQ(Send(WM_KEYDOWN, entry.key, LPARAM{1} << 30), 0);
        EXPECT_EQ(Flag(entry.slot), 1);
        EXPECT_EQ(Send(WM_KEYUP, entry.key, 0), 0);
        for (int slot = 0; slot < 11; ++slot) EXPECT_EQ(Flag(slot), 0) << slot;
    }
    EXPECT_EQ(DefaultCalls(), 0u);
}

TEST_F(ShellRouting, KeysOutsideTheTableDoNothingAndNeverReachTheDefault) {
    for (WPARAM key : {WPARAM{'A'}, WPARAM{'W'}, WPARAM{VK_F1}, WPARAM{VK_SPACE}, WPARAM{VK_MENU},
                       WPARAM{VK_TAB}, WPARAM{0x26 + 0x100}}) {
        SCOPED_TRACE(key);
        EXPECT_EQ(Send(WM_KEYDOWN, key, 0), 0);
        EXPECT_EQ(Send(WM_KEYUP, key, 0), 0);
        for (int slot = 0; slot < 11; ++slot) EXPECT_EQ(Flag(slot), 0) << slot;
    }
    EXPECT_EQ(DefaultCalls(), 0u);
}

TEST_F(ShellRouting, SystemKeysAndCharactersGoToTheDefaultUnchanged) {
    const UINT messages[] = {WM_SYSKEYDOWN, WM_SYSKEYUP, WM_CHAR, WM_SYSCHAR, WM_PAINT, WM_CLOSE + 0x100};
    for (UINT message : messages) Send(message, VK_UP, 0x12345);
    const auto calls = Defaults();
    ASSERT_EQ(calls.size(), std::size(messages));
    for (size_t i = 0; i < calls.size(); ++i) {
        EXPECT_EQ(calls[i].message, messages[i]);
        EXPECT_EQ(calls[i].wParam, WPARAM{VK_UP});
        EXPECT_EQ(calls[i].lParam, 0x12345);
    }
    EXPECT_EQ(Flag(InputState::kUp), 0);
}

TEST_F(ShellRouting, MouseButtonsSetTheirFlagsAndReseedOnMiddleAndRight) {
    const int32_t before = Scene().system.particleCount;
    EXPECT_EQ(Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(10, 10)), 0);
    EXPECT_EQ(Flag(InputState::kLeftButton), 1);
    EXPECT_EQ(Send(WM_LBUTTONUP, 0, MAKELPARAM(10, 10)), 0);
    EXPECT_EQ(Flag(InputState::kLeftButton), 0);
    EXPECT_EQ(Scene().system.particleCount, before);

    EXPECT_EQ(Send(WM_RBUTTONDOWN, MK_RBUTTON, 0), 0);
    EXPECT_EQ(Flag(InputState::kRightButton), 1);
    EXPECT_EQ(Scene().system.particleCount, before + 100);
    EXPECT_EQ(Send(WM_RBUTTONUP, 0, 0), 0);
    EXPECT_EQ(Flag(InputState::kRightButton), 0);
    EXPECT_EQ(Scene().system.particleCount, before + 100);

    EXPECT_EQ(Send(WM_MBUTTONDOWN, MK_MBUTTON, 0), 0);
    EXPECT_EQ(Flag(InputState::kMiddleButton), 1);
    EXPECT_EQ(Scene().system.particleCount, before);
    EXPECT_EQ(Send(WM_MBUTTONUP, 0, 0), 0);
    EXPECT_EQ(Flag(InputState::kMiddleButton), 0);
    EXPECT_EQ(DefaultCalls(), 0u);
}

TEST_F(ShellRouting, OnlyTimerOneCountsAndSteps) {
    const int32_t ticks = tickCount;
    const Vec3 start = Scene().system.particles[0].position;
    for (WPARAM id : {WPARAM{0}, WPARAM{2}, WPARAM{0x101}}) {
        EXPECT_EQ(Send(WM_TIMER, id, 0), 0);
    }
    EXPECT_EQ(tickCount, ticks);
    EXPECT_EQ(std::memcmp(&start, &Scene().system.particles[0].position, sizeof(Vec3)), 0);

    EXPECT_EQ(Send(WM_TIMER, 1, 0), 0);
    EXPECT_EQ(tickCount, ticks + 1);
    // The step moved the fluid: gravity acts on every particle.
    EXPECT_NE(std::memcmp(&start, &Scene().system.particles[0].position, sizeof(Vec3)), 0);
    EXPECT_EQ(DefaultCalls(), 0u);
}

TEST_F(ShellRouting, ScreenSaverAndMonitorPowerAreSwallowedOtherCommandsAreNot) {
    EXPECT_EQ(Send(WM_SYSCOMMAND, SC_SCREENSAVE, 0), 0);
    EXPECT_EQ(Send(WM_SYSCOMMAND, SC_MONITORPOWER, 2), 0);
    EXPECT_EQ(DefaultCalls(), 0u);
    // The comparison is on the whole wParam: with low bits set it is another
    // command, as are minimise and maximise.
    for (WPARAM command : {WPARAM{SC_MINIMIZE}, WPARAM{SC_MAXIMIZE}, WPARAM{SC_SCREENSAVE | 2},
                           WPARAM{SC_MOVE}}) {
        Send(WM_SYSCOMMAND, command, 0);
    }
    // On a real window, minimising and maximising send messages of their
    // own on the way, which reach the default too; the commands are counted.
    std::vector<platform_test::WindowCall> commands;
    for (const auto& call : Defaults()) {
        if (call.message == WM_SYSCOMMAND) commands.push_back(call);
    }
    ASSERT_EQ(commands.size(), 4u);
    EXPECT_EQ(commands[2].wParam, WPARAM{SC_SCREENSAVE | 2});
}

TEST_F(ShellRouting, SizeHalvesTheCentreAndRebuildsTheProjection) {
    EXPECT_EQ(Send(WM_SIZE, 0, MAKELPARAM(801, 601)), 0);
    EXPECT_EQ(windowCentre.x, 400);
    EXPECT_EQ(windowCentre.y, 300);
    EXPECT_EQ(Scene().viewportWidth, 801);
    EXPECT_EQ(Scene().viewportHeight, 601);
    Mat4 expected;
    Perspective(expected, 45.0f, 801.0f / 601.0f, Scene().nearPlane, Scene().farPlane);
    EXPECT_EQ(std::memcmp(expected.m, Scene().projection.m, sizeof expected.m), 0);

    // The words are unsigned: 40000 is a width, not a negative number.
    EXPECT_EQ(Send(WM_SIZE, 0, MAKELPARAM(40000, 3)), 0);
    EXPECT_EQ(windowCentre.x, 20000);
    EXPECT_EQ(windowCentre.y, 1);

    // A minimised window (empty client area) keeps the last projection.
    const Mat4 before = Scene().projection;
    EXPECT_EQ(Send(WM_SIZE, 1, MAKELPARAM(0, 0)), 0);
    EXPECT_EQ(std::memcmp(before.m, Scene().projection.m, sizeof before.m), 0);
    EXPECT_EQ(DefaultCalls(), 0u);
}

TEST_F(ShellRouting, MouseLookTurnsOncePerTickAndPutsTheCursorBack) {
    // Centre (320, 240) from the set-up's 640 x 480.
    tickCount = 7;
    lastLookTick = 7;
    const Camera start = Scene().camera;
    Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(350, 228));
    EXPECT_EQ(Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(350, 228)), 0);
    EXPECT_TRUE(SameCamera(start, Scene().camera)) << "no tick since the last look";
    EXPECT_TRUE(platform_test::CursorMoves().empty());

    // A movement taken with the button up uses up the tick all the same.
    Send(WM_LBUTTONUP, 0, MAKELPARAM(350, 228));
    Send(WM_TIMER, 1, 0);
    EXPECT_EQ(Send(WM_MOUSEMOVE, 0, MAKELPARAM(330, 250)), 0);
    EXPECT_EQ(lastLookTick, tickCount);
    Send(WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(330, 250));
    Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(360, 250));
    EXPECT_TRUE(SameCamera(start, Scene().camera));
    EXPECT_TRUE(platform_test::CursorMoves().empty());

    // Next tick: the centre itself is dropped without using the tick, then
    // the whole offset from the centre turns the camera once.
    Send(WM_TIMER, 1, 0);
    const int32_t tick = tickCount;
    Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(320, 240));
    EXPECT_EQ(lastLookTick, tick - 1);
    Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(350, 228));
    EXPECT_EQ(lastLookTick, tick);
    Camera expected = start;
    const float delta[2] = {30.0f, -12.0f};
    expected.Look(delta);
    EXPECT_TRUE(SameCamera(expected, Scene().camera));
    ASSERT_EQ(platform_test::CursorMoves().size(), 1u);
    EXPECT_EQ(platform_test::CursorMoves()[0].x, kOrigin.x + 320);
    EXPECT_EQ(platform_test::CursorMoves()[0].y, kOrigin.y + 240);

    // Further movement in the same tick is dropped.
    Send(WM_MOUSEMOVE, MK_LBUTTON, MAKELPARAM(100, 100));
    EXPECT_TRUE(SameCamera(expected, Scene().camera));
    EXPECT_EQ(platform_test::CursorMoves().size(), 1u);
    Send(WM_LBUTTONUP, 0, 0);
    EXPECT_EQ(DefaultCalls(), 0u);
}

TEST_F(ShellRouting, CloseGoesThroughTheDefaultToDestroyAndQuit) {
    testing::internal::CaptureStdout();
    EXPECT_EQ(Send(WM_CLOSE, 0, 0), 0);
    EXPECT_EQ(testing::internal::GetCapturedStdout(), "Shutting down.\n");
    ASSERT_EQ(DefaultCalls(), 2u);  // WM_CLOSE, and WM_NCDESTROY after WM_DESTROY
    EXPECT_EQ(Defaults()[0].message, UINT{WM_CLOSE});
    EXPECT_EQ(Defaults()[1].message, UINT{WM_NCDESTROY});
    MSG message = {};
    ASSERT_TRUE(PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE));
    EXPECT_EQ(message.message, UINT{WM_QUIT});
    EXPECT_EQ(message.wParam, WPARAM{0});
    // The window is gone: messages to it are not delivered.
    EXPECT_EQ(SendMessageA(window, WM_USER + 1, 0, 0), 0);
    EXPECT_EQ(DefaultCalls(), 2u);
}

TEST(ShellStart, TheFirstMessageOfAnyKindBuildsTheScene) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    // In a fresh process: no message has reached the procedure yet.
    EXPECT_EXIT(
        {
            testing::internal::CaptureStdout();
            const bool before = shellScene == nullptr;
            HWND window = platform_test::CreateDetachedWindow(WndProc, kOrigin, 10, 10);
            WndProc(window, WM_NCCREATE, 0, 0);
            const std::string out = testing::internal::GetCapturedStdout();
            const bool built = shellScene != nullptr && shellScene->system.particleCount == 500;
            std::exit(before && built && out == "Allocating 500 particles\n" ? 0 : 1);
        },
        testing::ExitedWithCode(0), "");
}

TEST(ShellStart, RegisterClassFailureShowsOneBoxAndReturnsZero) {
    setenv("PONDSIM_MESSAGEBOX", "stderr", 1);  // never wait for a click
    platform_test::StartRecording();
    platform_test::SetFailing("RegisterClassA", true);
    const int result = WinMain(GetModuleHandleA(nullptr), nullptr, nullptr, SW_SHOWDEFAULT);
    platform_test::SetFailing("RegisterClassA", false);
    EXPECT_EQ(result, 0);
    const auto& boxes = platform_test::MessageBoxes();
    ASSERT_EQ(boxes.size(), 1u);
    EXPECT_EQ(boxes[0].text, "Unable to register window class.");
    EXPECT_EQ(boxes[0].caption, "WinMain");
    EXPECT_EQ(boxes[0].type, UINT{MB_ICONERROR});
}

}  // namespace
