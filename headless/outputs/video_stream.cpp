#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "headless/outputs/output.h"

namespace {

#ifdef _WIN32
constexpr char kPathSeparator = ';';
constexpr const char* kEncoderName = "ffmpeg.exe";
FILE* OpenPipe(const std::string& command) { return _popen(command.c_str(), "wb"); }
int ClosePipe(FILE* pipe) { return _pclose(pipe); }
// cmd.exe takes a double-quoted argument as it is; no file name holds '"'.
std::string Quote(const std::string& text) { return "\"" + text + "\""; }
#else
constexpr char kPathSeparator = ':';
constexpr const char* kEncoderName = "ffmpeg";
FILE* OpenPipe(const std::string& command) {
    // An encoder that dies must show up as a failed write, not end us.
    signal(SIGPIPE, SIG_IGN);
    return popen(command.c_str(), "w");
}
int ClosePipe(FILE* pipe) { return pclose(pipe); }
std::string Quote(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return quoted + "'";
}
#endif

bool EndsWith(const char* text, const char* end) {
    const size_t n = std::strlen(text);
    const size_t m = std::strlen(end);
    return n >= m && std::strcmp(text + n - m, end) == 0;
}

}  // namespace

std::string VideoStream::FindEncoder() {
    const char* path = getenv("PATH");
    if (path == nullptr) return {};
    const std::string dirs(path);
    size_t begin = 0;
    while (begin <= dirs.size()) {
        size_t end = dirs.find(kPathSeparator, begin);
        if (end == std::string::npos) end = dirs.size();
        const std::filesystem::path candidate =
            std::filesystem::path(end > begin ? dirs.substr(begin, end - begin) : ".") / kEncoderName;
        std::error_code error;
        if (std::filesystem::is_regular_file(candidate, error)) return candidate.string();
        begin = end + 1;
    }
    return {};
}

const char* VideoStream::CodecFor(const char* path) {
    // yuv420p is what players expect of both; it needs even sides.
    if (EndsWith(path, ".mp4")) return "-c:v libx264 -preset veryfast -crf 23 -pix_fmt yuv420p -movflags +faststart";
    if (EndsWith(path, ".webm")) {
        return "-c:v libvpx-vp9 -deadline realtime -cpu-used 8 -row-mt 1 -crf 34 -b:v 0 -pix_fmt yuv420p";
    }
    return nullptr;
}

VideoStream::~VideoStream() {
    if (pipe != nullptr) ClosePipe(pipe);
}

bool VideoStream::Start(Scene&) {
    const std::string encoder = FindEncoder();
    char format[128];
    snprintf(format, sizeof format, " -f rawvideo -pix_fmt rgb24 -s %dx%d -framerate %ld -i - ", offscreen.width,
             offscreen.height, fps);
    const std::string command = Quote(encoder) + " -hide_banner -loglevel error -nostdin -y" + format +
                                CodecFor(path.c_str()) + " " + Quote(path);
    pipe = OpenPipe(command);
    if (pipe == nullptr) {
        fprintf(stderr, "--video: cannot start %s\n", encoder.c_str());
        return false;
    }
    return true;
}

bool VideoStream::Write(Scene& scene, long) {
    DrawPicture(scene, offscreen, pixels);
    // Top row first, as the encoder takes it; alpha dropped as in the PNGs.
    const size_t width = static_cast<size_t>(offscreen.width);
    const size_t height = static_cast<size_t>(offscreen.height);
    rgb.resize(width * height * 3);
    unsigned char* out = rgb.data();
    for (size_t row = height; row-- > 0;) {
        const Rgba8* in = &pixels[row * width];
        for (size_t x = 0; x < width; ++x) {
            *out++ = in[x].r;
            *out++ = in[x].g;
            *out++ = in[x].b;
        }
    }
    if (fwrite(rgb.data(), 1, rgb.size(), pipe) != rgb.size()) {
        fprintf(stderr, "--video %s: ffmpeg stopped taking frames\n", path.c_str());
        return false;
    }
    ++frames;
    return true;
}

bool VideoStream::Finish(Scene&, long) {
    const int status = ClosePipe(pipe);
    pipe = nullptr;
    if (status != 0) {
        fprintf(stderr, "--video %s: ffmpeg failed (status %d)\n", path.c_str(), status);
        return false;
    }
    printf("video: %s (%ld frames at %ld per second)\n", path.c_str(), frames, fps);
    return true;
}
