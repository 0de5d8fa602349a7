#pragma once

#include <cstdio>
#include <string>
#include <vector>

#include "offscreen/offscreen.h"
#include "view/scene.h"

// Something a headless run keeps as it goes. The run loop calls Start once
// the scene is set up (or loaded), Write then and after every N steps, and
// Finish after the last step. Each returns false, with a message on stderr,
// when it cannot go on; the run then stops with exit code 1.
struct RunOutput {
    virtual ~RunOutput() = default;
    virtual bool Start(Scene& scene) = 0;
    virtual bool Write(Scene& scene, long step) = 0;
    virtual bool Finish(Scene& scene, long step) = 0;
};

// The frame the window would show now, bottom row first.
inline void DrawPicture(Scene& scene, const OffscreenContext& offscreen, std::vector<Rgba8>& pixels) {
    scene.Render();
    offscreen.ReadPixels(pixels);
}

// PNG pictures DIR/frame-<step>.png.
struct PngFrames : RunOutput {
    std::string folder;
    const OffscreenContext& offscreen;
    std::vector<Rgba8> pixels;

    PngFrames(const char* folder, const OffscreenContext& offscreen) : folder(folder), offscreen(offscreen) {}
    bool Start(Scene& scene) override;
    bool Write(Scene& scene, long step) override;
    bool Finish(Scene&, long) override { return true; }
};

// The same pictures as a video, streamed raw to ffmpeg: H.264 for .mp4,
// VP9 for .webm.
struct VideoStream : RunOutput {
    std::string path;
    long fps;
    const OffscreenContext& offscreen;
    FILE* pipe = nullptr;
    long frames = 0;
    std::vector<Rgba8> pixels;
    std::vector<unsigned char> rgb;

    VideoStream(const char* path, long fps, const OffscreenContext& offscreen)
        : path(path), fps(fps), offscreen(offscreen) {}
    ~VideoStream() override;
    bool Start(Scene& scene) override;
    bool Write(Scene& scene, long step) override;
    bool Finish(Scene& scene, long step) override;

    // Where the run's ffmpeg is found on PATH; empty when it is not.
    static std::string FindEncoder();
    // The encoder's arguments for a file name, or null for an extension it
    // does not know.
    static const char* CodecFor(const char* path);
};

// VTK XML PolyData: DIR/particles-<step>.vtp for every exported step and
// DIR/particles.pvd listing them with their simulated time.
struct VtkExport : RunOutput {
    std::string folder;
    std::vector<long> steps;
    std::vector<char> block;

    explicit VtkExport(const char* folder) : folder(folder) {}
    bool Start(Scene& scene) override;
    bool Write(Scene& scene, long step) override;
    bool Finish(Scene& scene, long step) override;
};

// Makes a folder for an output if it is not there yet (its parent was
// checked before the run); false with a message when it cannot.
bool MakeOutputFolder(const std::string& folder, const char* option);
