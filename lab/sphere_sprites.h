#pragma once

// Each particle as a lit sphere: its point drawn as a sprite of a shaded
// disc (fixed-function point sprites, OpenGL 2.0), the particle's colour
// times the disc's light. Not in the browser, whose emulation has none.
struct SphereSprites {
    unsigned texture = 0;
    // Whether the context has point sprites; set by Init.
    bool available = false;

    void Init();
    // Around the particles' drawing: the sprite state on, then off again.
    void Begin() const;
    void End() const;
};
