// Byte strings decoded into sequences of window messages (keys in and out of
// the table, buttons, moves, sizes down to 0, timer ticks with any
// identifier, frames, paints, system commands, closes and any other message
// number) go into the shell's window procedure over the Linux layer, on a
// window with no X window and no OpenGL context behind it. After every
// message the scene must still be sane: a finite camera and projection, the
// flags and the particle count that the messages so far ask for, every
// particle inside the box with valid neighbour lists. Messages the default
// handling posts are dispatched as the loop would, through the same checks.

#include <windows.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <iterator>

#include "platform_test.h"
#include "shell/shell.h"
#include "tests/fuzz/fuzz_checks.h"
#include "demo/scene.h"

namespace {

constexpr POINT kOrigin = {100, 50};
constexpr int kStartWidth = 640;
constexpr int kStartHeight = 480;
// Steps are the dear part: a few per input keep the rate up, and the timer
// identifiers other than 1 cost nothing and are not limited.
constexpr int kMaxSteps = 6;
constexpr int kMaxMessages = 400;

// Slots of the key table, in its order.
constexpr WPARAM kTableKeys[8] = {VK_RETURN, VK_SHIFT, VK_CONTROL, VK_ESCAPE, VK_LEFT, VK_UP, VK_RIGHT, VK_DOWN};
constexpr int kTableSlots[8] = {InputState::kEnter, InputState::kShift, InputState::kControl, InputState::kEscape,
                                InputState::kLeft,  InputState::kUp,    InputState::kRight,   InputState::kDown};

constexpr WPARAM kSystemCommands[] = {SC_SCREENSAVE, SC_MONITORPOWER, SC_MINIMIZE, SC_MAXIMIZE, SC_RESTORE,
                                      SC_MOVE,       SC_SIZE,         0xF100 /* the menu key */, SC_SCREENSAVE | 2,
                                      SC_MONITORPOWER | 1, SC_CLOSE};

// What the messages sent so far should have done, by the routing rules.
struct Expected {
    uint8_t flags[11];
    int32_t count;
    int32_t ticks;
    POINT centre;
};

HWND window;
bool destroyed;
Expected expected;

// Sees the window's messages before the shell does, including those that
// the default handling sends it, so that a close is noticed.
LRESULT CALLBACK Observe(HWND handle, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_NCDESTROY) destroyed = true;
    return WndProc(handle, message, wParam, lParam);
}

struct ByteReader {
    const uint8_t* data;
    size_t size;
    size_t at = 0;

    bool Empty() const { return at >= size; }
    uint8_t Byte() { return at < size ? data[at++] : 0; }
    uint16_t Word() { return static_cast<uint16_t>(Byte() << 8 | Byte()); }
    uint32_t Long() { return static_cast<uint32_t>(Word()) << 16 | Word(); }
};

Scene& TheScene() { return *shellScene; }

int SlotOfKey(WPARAM key) {
    for (int k = 0; k < 8; ++k) {
        if (kTableKeys[k] == key) return kTableSlots[k];
    }
    return -1;
}

bool IsClose(UINT message, WPARAM wParam) {
    if (message == WM_CLOSE) return true;
    return message == WM_SYSCOMMAND && wParam != SC_SCREENSAVE && wParam != SC_MONITORPOWER &&
           (wParam & 0xFFF0) == SC_CLOSE;
}

// The routing rules, applied to the expectation.
void Expect(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_KEYDOWN:
    case WM_KEYUP:
        if (const int slot = SlotOfKey(wParam); slot >= 0) expected.flags[slot] = message == WM_KEYDOWN;
        break;
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP: expected.flags[InputState::kLeftButton] = message == WM_LBUTTONDOWN; break;
    case WM_MBUTTONDOWN:
        expected.count = expected.count < 100 ? 0 : expected.count - 100;
        [[fallthrough]];
    case WM_MBUTTONUP: expected.flags[InputState::kMiddleButton] = message == WM_MBUTTONDOWN; break;
    case WM_RBUTTONDOWN: expected.count += 100; [[fallthrough]];
    case WM_RBUTTONUP: expected.flags[InputState::kRightButton] = message == WM_RBUTTONDOWN; break;
    case WM_SIZE:
        expected.centre.x = LOWORD(lParam) >> 1;
        expected.centre.y = HIWORD(lParam) >> 1;
        break;
    case WM_TIMER:
        if (wParam == kSimulationTimer) ++expected.ticks;
        break;
    default: break;
    }
}

bool FiniteMatrix(const Mat4& m) {
    for (float value : m.m) {
        if (!std::isfinite(value)) return false;
    }
    return true;
}

void Check(UINT message) {
    const Scene& scene = TheScene();
    const ParticleSystem& system = scene.system;
    for (int slot = 0; slot < 11; ++slot) {
        if (scene.input.flags[slot] != expected.flags[slot]) FuzzFail("flag", -1, slot, scene.input.flags[slot]);
    }
    if (scene.requestedCount != expected.count) FuzzFail("requested count", -1, -1, scene.requestedCount);
    if (system.particleCount != expected.count) FuzzFail("particle count", -1, -1, system.particleCount);
    if (system.particles == nullptr) FuzzFail("no particle array", -1, -1, 0);
    if (tickCount != expected.ticks) FuzzFail("tick count", -1, -1, tickCount);
    if (windowCentre.x != expected.centre.x || windowCentre.y != expected.centre.y) {
        FuzzFail("window centre", -1, -1, windowCentre.x);
    }
    if (!Finite(scene.camera.position) || !Finite(scene.camera.up) || !Finite(scene.camera.back)) {
        FuzzFail("camera not finite", -1, static_cast<int32_t>(message), 0);
    }
    if (!FiniteMatrix(scene.projection)) FuzzFail("projection not finite", -1, static_cast<int32_t>(message), 0);
    // Scattered inside the box from rest, a particle is kept there by the
    // box step of every tick.
    for (int32_t i = 0; i < system.particleCount; ++i) {
        const Vec3& p = system.particles[i].position;
        if (!Finite(p) || p.x < system.boxMin.x || p.x > system.boxMax.x || p.y < system.boxMin.y ||
            p.y > system.boxMax.y || p.z < system.boxMin.z || p.z > system.boxMax.z) {
            FuzzFail("position outside the box", i, static_cast<int32_t>(message), expected.ticks);
        }
    }
    CheckNeighbourLists(system);
}

// One message, as DispatchMessageA would deliver it. The camera may turn
// only on a movement off the centre with the left button held, and only in
// a tick that has not yet had a movement taken.
void Deliver(UINT message, WPARAM wParam, LPARAM lParam) {
    const Camera before = TheScene().camera;
    const bool mayTurn = message == WM_MOUSEMOVE && TheScene().input.flags[InputState::kLeftButton] != 0 &&
                         tickCount != lastLookTick &&
                         (LOWORD(lParam) != windowCentre.x || HIWORD(lParam) != windowCentre.y);
    Expect(message, wParam, lParam);
    SendMessageA(window, message, wParam, lParam);
    if (destroyed) return;
    if (message != WM_TIMER && !mayTurn && std::memcmp(&before, &TheScene().camera, sizeof before) != 0) {
        FuzzFail("camera turned out of turn", -1, static_cast<int32_t>(message), tickCount);
    }
    if (mayTurn && lastLookTick != tickCount) FuzzFail("movement not taken", -1, -1, lastLookTick);
    Check(message);
}

// Whatever the default handling posted (a close from Alt+F4, for one) is
// dispatched as the loop would; the quit message only ends the input.
void DrainQueue() {
    MSG queued;
    while (!destroyed && PeekMessageA(&queued, nullptr, 0, 0, PM_REMOVE)) {
        if (queued.message == WM_QUIT) continue;
        Deliver(queued.message, queued.wParam, queued.lParam);
    }
}

// The state right after the window's creation and its first size message.
void Restart() {
    if (destroyed || window == nullptr) {
        window = platform_test::CreateDetachedWindow(Observe, kOrigin, kStartWidth, kStartHeight);
        destroyed = false;
    }
    // The program never seeds the generator; seeding here makes an input
    // give the same layouts every time it is run.
    srand(1);
    tickCount = 0;
    lastLookTick = 0;
    Scene& scene = TheScene();
    std::memset(scene.input.flags, 0, sizeof scene.input.flags);
    scene.Setup();
    expected = {};
    expected.count = 3000;
    const LPARAM size = MAKELPARAM(kStartWidth, kStartHeight);
    Deliver(WM_SIZE, SIZE_RESTORED, size);
}

LPARAM Point(ByteReader& in) {
    const uint8_t mode = in.Byte();
    if (mode & 1) {
        // Near the centre, where the look rules have their edges.
        const int x = windowCentre.x + static_cast<int8_t>(in.Byte()) / 8;
        const int y = windowCentre.y + static_cast<int8_t>(in.Byte()) / 8;
        return MAKELPARAM(x, y);
    }
    const WORD x = in.Word();
    const WORD y = in.Word();
    return MAKELPARAM(x, y);
}

LPARAM Size(ByteReader& in) {
    const uint8_t mode = in.Byte();
    switch (mode & 3) {
    case 0: return MAKELPARAM(0, 0);
    case 1: return MAKELPARAM(mode >> 2 & 3, mode >> 4 & 3);  // a tiny window, a side of 0 among them
    default: {
        const WORD width = in.Word();
        const WORD height = in.Word();
        return MAKELPARAM(width, height);
    }
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // No display, whatever the environment: a box goes to standard error.
    unsetenv("DISPLAY");
    setenv("PONDSIM_MESSAGEBOX", "stderr", 1);
    window = platform_test::CreateDetachedWindow(Observe, kOrigin, kStartWidth, kStartHeight);
    platform_test::SetFailing("ChoosePixelFormat", true);
    SendMessageA(window, WM_CREATE, 0, 0);
    platform_test::SetFailing("ChoosePixelFormat", false);
    // Ticks come from the input only.
    KillTimer(window, kSimulationTimer);
    return 0;
}

// Each message is an opcode byte and its operands; see the cases.
extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    ByteReader in{data, size};
    Restart();
    int steps = 0;
    for (int sent = 0; sent < kMaxMessages && !in.Empty() && !destroyed; ++sent) {
        const uint8_t op = in.Byte();
        UINT message = 0;
        WPARAM wParam = 0;
        LPARAM lParam = 0;
        switch (op % 14) {
        case 0:
        case 1:
            message = op % 14 == 0 ? WM_KEYDOWN : WM_KEYUP;
            wParam = kTableKeys[in.Byte() % 8];
            lParam = op & 0x80 ? LPARAM{1} << 30 : 0;  // auto-repeat
            break;
        case 2:
            message = in.Byte() & 1 ? WM_KEYUP : WM_KEYDOWN;
            wParam = in.Word();  // mostly outside the table
            break;
        case 3:
        case 4: {
            static constexpr UINT kDown[3] = {WM_LBUTTONDOWN, WM_MBUTTONDOWN, WM_RBUTTONDOWN};
            message = kDown[in.Byte() % 3] + (op % 14 == 4 ? 1 : 0);
            lParam = Point(in);
            break;
        }
        case 5:
        case 6:
            message = WM_MOUSEMOVE;
            lParam = Point(in);
            break;
        case 7:
            message = WM_SIZE;
            wParam = in.Byte() % 5;  // restored, minimised, maximised, ...
            lParam = Size(in);
            break;
        case 8:
            message = WM_TIMER;
            wParam = op & 0x80 ? in.Long() : kSimulationTimer;
            break;
        case 9: message = op & 0x80 ? WM_PAINT : WM_RENDER; break;
        case 10:
            message = WM_SYSCOMMAND;
            wParam = op & 0x80 ? in.Word() : kSystemCommands[in.Byte() % std::size(kSystemCommands)];
            break;
        case 11:
            // Alt+F4 and other system keys go to the default handling.
            message = op & 0x80 ? WM_SYSKEYDOWN : WM_SYSKEYUP;
            wParam = in.Byte() & 1 ? VK_F1 + 3 : in.Byte();
            lParam = LPARAM{1} << 29;
            break;
        case 12:
            // Any other message number, as long as it is not one of the
            // creation and destruction messages, which only the system sends.
            message = in.Word();
            wParam = in.Long();
            lParam = static_cast<LPARAM>(in.Long());
            if (message == WM_CREATE || message == WM_DESTROY || message == WM_NCDESTROY) continue;
            break;
        default: message = WM_CLOSE; break;
        }
        if (message == WM_TIMER && wParam == kSimulationTimer && ++steps > kMaxSteps) continue;
        if (IsClose(message, wParam)) {
            // Closing ends the program; what is left of the input goes nowhere.
            Deliver(message, wParam, lParam);
            if (!destroyed) FuzzFail("close did not destroy the window", -1, static_cast<int32_t>(message), 0);
            break;
        }
        Deliver(message, wParam, lParam);
        DrainQueue();
    }
    return 0;
}
