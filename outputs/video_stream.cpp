#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include "outputs/pictures.h"

namespace {

#ifdef _WIN32
constexpr char kPathSeparator = ';';
constexpr const char* kEncoderName = "ffmpeg.exe";
#else
constexpr char kPathSeparator = ':';
constexpr const char* kEncoderName = "ffmpeg";
#endif

bool EndsWith(const char* text, const char* end) {
    const size_t n = std::strlen(text);
    const size_t m = std::strlen(end);
    return n >= m && std::strcmp(text + n - m, end) == 0;
}

// ffmpeg's command line: raw RGB frames of the given size on its input, the
// codec chosen by the final name, written to `file`.
std::vector<std::string> EncoderArguments(const std::string& encoder, const char* finalName, const std::string& file,
                                          long width, long height, long fps) {
    std::vector<std::string> args = {encoder, "-hide_banner", "-loglevel", "error", "-nostdin", "-y",
                                     "-f", "rawvideo", "-pix_fmt", "rgb24", "-s",
                                     std::to_string(width) + "x" + std::to_string(height), "-framerate",
                                     std::to_string(fps), "-i", "-"};
    const std::string codec = VideoStream::CodecFor(finalName);
    size_t begin = 0;
    while (begin < codec.size()) {
        size_t end = codec.find(' ', begin);
        if (end == std::string::npos) end = codec.size();
        args.push_back(codec.substr(begin, end - begin));
        begin = end + 1;
    }
    args.push_back(file);
    return args;
}

}  // namespace

// ffmpeg running with a pipe to its input.
struct EncoderPipe {
    FILE* input = nullptr;
#ifdef _WIN32
    // cmd.exe takes a double-quoted argument as it is; no file name holds '"'.
    // The whole command is quoted once more: cmd.exe /c drops the first and
    // the last quote of a line that holds more than two.
    bool Start(const std::vector<std::string>& args) {
        std::string command = "\"";
        for (const std::string& arg : args) command += (command.size() == 1 ? "\"" : " \"") + arg + "\"";
        command += "\"";
        input = _popen(command.c_str(), "wb");
        return input != nullptr;
    }
    int Finish() {
        if (input == nullptr) return -1;
        const int status = _pclose(input);
        input = nullptr;
        return status;
    }
#else
    pid_t child = -1;

    // Started by hand rather than through popen, so that ffmpeg gets a
    // process group of its own: the Ctrl-C of a terminal then reaches this
    // driver alone, which ends the video itself after the current step.
    bool Start(const std::vector<std::string>& args) {
        // An encoder that dies must show up as a failed write, not end us.
        signal(SIGPIPE, SIG_IGN);
        int ends[2];
        if (pipe(ends) != 0) return false;
        std::vector<char*> argv;
        for (const std::string& arg : args) argv.push_back(const_cast<char*>(arg.c_str()));
        argv.push_back(nullptr);
        child = fork();
        if (child == 0) {
            setpgid(0, 0);
            dup2(ends[0], STDIN_FILENO);
            close(ends[0]);
            close(ends[1]);
            execv(argv[0], argv.data());
            _exit(127);
        }
        close(ends[0]);
        if (child < 0) {
            close(ends[1]);
            return false;
        }
        fcntl(ends[1], F_SETFD, FD_CLOEXEC);
        input = fdopen(ends[1], "wb");
        return input != nullptr;
    }
    int Finish() {
        if (input != nullptr) fclose(input);
        input = nullptr;
        if (child <= 0) return -1;
        int status = 0;
        while (waitpid(child, &status, 0) < 0) {
            if (errno != EINTR) return -1;
        }
        child = -1;
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
#endif
};

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

bool VideoStream::TryEncoder(const char* path, long width, long height, long fps, int& status) {
    const std::string name(path);
    const size_t dot = name.rfind('.');
    const std::string trial = name.substr(0, dot) + ".trial" + name.substr(dot);
    EncoderPipe encoder;
    status = -1;
    if (!encoder.Start(EncoderArguments(FindEncoder(), path, trial, width, height, fps))) return false;
    const std::vector<unsigned char> black(static_cast<size_t>(width) * static_cast<size_t>(height) * 3, 0);
    const bool fed = fwrite(black.data(), 1, black.size(), encoder.input) == black.size();
    status = encoder.Finish();
    std::error_code ignored;
    std::filesystem::remove(trial, ignored);
    return status == 0 && fed;
}

VideoStream::~VideoStream() {
    // A run that stopped before Finish leaves no video behind.
    if (encoder != nullptr) {
        encoder->Finish();
        delete encoder;
        PlaceFile(path, false);
    }
}

bool VideoStream::Start(RunSubject&) {
    encoder = new EncoderPipe;
    if (!encoder->Start(EncoderArguments(FindEncoder(), path.c_str(), PartialName(path), offscreen.width,
                                         offscreen.height, fps))) {
        fprintf(stderr, "--video: cannot start %s\n", FindEncoder().c_str());
        return false;
    }
    return true;
}

bool VideoStream::Write(RunSubject& subject, long) {
    DrawPicture(subject, offscreen, pixels);
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
    if (fwrite(rgb.data(), 1, rgb.size(), encoder->input) != rgb.size()) {
        fprintf(stderr, "--video %s: ffmpeg stopped taking frames\n", path.c_str());
        return false;
    }
    ++frames;
    return true;
}

bool VideoStream::Finish(RunSubject&, long) {
    const int status = encoder->Finish();
    delete encoder;
    encoder = nullptr;
    if (!PlaceFile(path, status == 0)) {
        fprintf(stderr, "--video %s: ffmpeg failed (status %d); no video is left\n", path.c_str(), status);
        return false;
    }
    printf("video: %s (%ld frames at %ld per second)\n", path.c_str(), frames, fps);
    return true;
}
