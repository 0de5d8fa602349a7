#include "headless/preflight.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <system_error>

#include "outputs/pictures.h"

namespace {

namespace fs = std::filesystem;

// A file is only really known to be writable once one has been made: the
// permission bits say nothing to root, nor about a read-only mount.
bool FolderTakesFiles(const fs::path& folder) {
    const fs::path probe = folder / ".pondsim-write-probe";
    FILE* file = fopen(probe.string().c_str(), "wb");
    if (file == nullptr) return false;
    fclose(file);
    std::error_code ignored;
    fs::remove(probe, ignored);
    return true;
}

// The folder that will hold a new file or folder must be there, be a folder
// and take files. Complains for the option.
bool CheckParent(const char* option, const char* path, const fs::path& named, const char* cannot) {
    std::error_code error;
    const fs::path parent = named.has_parent_path() ? named.parent_path() : fs::path(".");
    if (!fs::exists(parent, error)) {
        fprintf(stderr, "%s %s: the folder %s does not exist\n", option, path, parent.string().c_str());
        return false;
    }
    if (!fs::is_directory(parent, error)) {
        fprintf(stderr, "%s %s: %s is not a folder\n", option, path, parent.string().c_str());
        return false;
    }
    if (!FolderTakesFiles(parent)) {
        fprintf(stderr, "%s %s: %s %s\n", option, path, cannot, parent.string().c_str());
        return false;
    }
    return true;
}

// The file named by an option will be created or replaced after the run;
// its folder must be there and writable now.
bool CheckOutputFile(const char* option, const char* path) {
    std::error_code error;
    const fs::path file(path);
    if (fs::is_directory(file, error)) {
        fprintf(stderr, "%s %s: that is a folder, not a file name\n", option, path);
        return false;
    }
    return CheckParent(option, path, file, "cannot write into the folder");
}

// A folder of outputs may be made by the run, inside a folder that is there.
bool CheckOutputFolder(const char* option, const char* path) {
    std::error_code error;
    const fs::path folder(FolderName(path));
    if (fs::is_directory(folder, error)) {
        if (FolderTakesFiles(folder)) return true;
        fprintf(stderr, "%s %s: cannot write into that folder\n", option, path);
        return false;
    }
    if (fs::exists(folder, error)) {
        fprintf(stderr, "%s %s: that is a file, not a folder\n", option, path);
        return false;
    }
    return CheckParent(option, path, folder, "cannot make it in");
}

bool CheckVideo(const Options& options) {
    if (!CheckOutputFile("--video", options.video)) return false;
    if (VideoStream::FindEncoder().empty()) {
#ifdef _WIN32
        fprintf(stderr, "--video needs ffmpeg.exe in one of the folders of PATH; get a Windows build of ffmpeg and "
                        "add its bin folder to PATH\n");
#else
        fprintf(stderr, "--video needs ffmpeg, which is not on PATH (Debian: apt-get install ffmpeg)\n");
#endif
        return false;
    }
    return true;
}

// Run last, since it starts ffmpeg: only once everything else is known good.
bool TryVideo(const Options& options) {
    int status = 0;
    if (VideoStream::TryEncoder(options.video, options.width, options.height, options.fps, status)) return true;
    fprintf(stderr, "--video %s: ffmpeg cannot encode a test frame of %ldx%ld (status %d); nothing was written\n",
            options.video, options.width, options.height, status);
    return false;
}

// Options that go with others and do nothing alone are not errors, but the
// user is told.
void NoteIdleOptions(const Options& options) {
    if (options.sizeGiven && !options.Draws()) {
        fprintf(stderr, "note: --size has no effect without --snapshot, --frames, --record or --video; "
                        "nothing is drawn\n");
    }
    if (options.everyGiven && !options.KeepsSteps()) {
        fprintf(stderr, "note: --every has no effect without --record, --video or --export\n");
    }
    if (options.fpsGiven && options.video == nullptr) fprintf(stderr, "note: --fps has no effect without --video\n");
    if (options.pairedLimit > 0 && options.particles > options.pairedLimit) {
        fprintf(stderr, "note: only the first %ld particles join the fluid, as in the program; the other %ld are "
                        "never paired with neighbours and fall through it\n",
                options.pairedLimit, options.particles - options.pairedLimit);
    }
}

}  // namespace

bool Preflight(const Options& options) {
    if (!OptionsAgree(options)) return false;
    NoteIdleOptions(options);
    if (options.snapshot != nullptr && !CheckOutputFile("--snapshot", options.snapshot)) return false;
    if (options.record != nullptr && !CheckOutputFolder("--record", options.record)) return false;
    if (options.video != nullptr && !CheckVideo(options)) return false;
    if (options.exportFolder != nullptr && !CheckOutputFolder("--export", options.exportFolder)) return false;
    if (options.saveState != nullptr && !CheckOutputFile("--save-state", options.saveState)) return false;
    std::error_code error;
    if (options.loadState != nullptr && fs::is_directory(options.loadState, error)) {
        fprintf(stderr, "--load-state %s: that is a folder, not a state file\n", options.loadState);
        return false;
    }
    if (options.loadState != nullptr && !fs::is_regular_file(options.loadState, error)) {
        fprintf(stderr, "--load-state %s: no such file\n", options.loadState);
        return false;
    }
    return options.video == nullptr || TryVideo(options);
}

bool OptionsAgree(const Options& options) {
    if (options.video != nullptr && VideoStream::CodecFor(options.video) == nullptr) {
        fprintf(stderr, "--video %s: the name must end in .mp4 (H.264) or .webm (VP9)\n", options.video);
        return false;
    }
    if (options.video != nullptr && (options.width % 2 != 0 || options.height % 2 != 0)) {
        fprintf(stderr, "--video needs a --size with even sides; %ldx%ld is not\n", options.width, options.height);
        return false;
    }
    if (options.loadState != nullptr && options.particles >= 0) {
        fprintf(stderr, "--particles and --load-state both say where the particles come from; give one\n");
        return false;
    }
    return true;
}
