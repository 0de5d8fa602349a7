#pragma once

#include <cstdint>

// One byte per button, 0 released and 1 held, addressed by the slot of its
// name in kInputNames.
struct InputState {
    uint8_t flags[11] = {};

    static constexpr int kLeftButton = 0;
    static constexpr int kMiddleButton = 1;
    static constexpr int kRightButton = 2;
    static constexpr int kEnter = 3;
    static constexpr int kEscape = 4;
    static constexpr int kShift = 5;
    static constexpr int kControl = 6;
    static constexpr int kUp = 7;
    static constexpr int kLeft = 8;
    static constexpr int kDown = 9;
    static constexpr int kRight = 10;
};

inline constexpr const char* kInputNames[11] = {
    "leftbutton", "middlebutton", "rightbutton", "enter", "escape", "shift",
    "control",    "up",           "left",        "down",  "right",
};
