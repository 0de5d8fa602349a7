#pragma once

#include <string>
#include <vector>

#include "offscreen/offscreen.h"
#include "outputs/output.h"

// The frame the window would show now, bottom row first.
inline void DrawPicture(RunSubject& subject, const OffscreenContext& offscreen, std::vector<Rgba8>& pixels) {
    subject.Render();
    offscreen.ReadPixels(pixels);
}

struct EncoderPipe;

// PNG pictures DIR/frame-<step>.png.
struct PngFrames : RunOutput {
    std::string folder;
    const OffscreenContext& offscreen;
    std::vector<Rgba8> pixels;

    PngFrames(const char* folder, const OffscreenContext& offscreen) : folder(FolderName(folder)), offscreen(offscreen) {}
    bool Start(RunSubject& subject) override;
    bool Write(RunSubject& subject, long step) override;
    bool Finish(RunSubject&, long) override { return true; }
};

// The same pictures as a video, streamed raw to ffmpeg: H.264 for .mp4,
// VP9 for .webm. ffmpeg writes to the partial name; the video takes its own
// name once ffmpeg has ended well, and is removed when the run fails.
struct VideoStream : RunOutput {
    std::string path;
    long fps;
    const OffscreenContext& offscreen;
    EncoderPipe* encoder = nullptr;
    long frames = 0;
    std::vector<Rgba8> pixels;
    std::vector<unsigned char> rgb;

    VideoStream(const char* path, long fps, const OffscreenContext& offscreen)
        : path(path), fps(fps), offscreen(offscreen) {}
    ~VideoStream() override;
    bool Start(RunSubject& subject) override;
    bool Write(RunSubject& subject, long step) override;
    bool Finish(RunSubject& subject, long step) override;

    // Where the run's ffmpeg is found on PATH; empty when it is not.
    static std::string FindEncoder();
    // The encoder's arguments for a file name, or null for an extension it
    // does not know.
    static const char* CodecFor(const char* path);
    // Encodes one black frame of the run's size into a file beside path,
    // then removes it: a missing codec or an unwritable file shows before the
    // run. False, with ffmpeg's own message on stderr, when it fails; fills
    // status with ffmpeg's exit status.
    static bool TryEncoder(const char* path, long width, long height, long fps, int& status);
};
