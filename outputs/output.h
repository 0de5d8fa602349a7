#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "outputs/run_subject.h"

#ifdef _WIN32
constexpr bool kBackslashSeparates = true;
#else
constexpr bool kBackslashSeparates = false;
#endif

// A folder as the command line names it, without the trailing separators
// that "frames/" may carry.
std::string FolderName(const char* folder);

// Makes a folder for an output if it is not there yet (its parent was
// checked before the run); false with a message when it cannot.
bool MakeOutputFolder(const std::string& folder, const char* option);

// Every output file is written under a temporary name beside it, and takes
// its own name only once it is complete, so that no reader ever sees half a
// file, whatever stops the run. The temporary name keeps the extension last
// ("run.partial.mp4"), since ffmpeg chooses the container by it.
std::string PartialName(const std::string& path);
// Renames a file written under PartialName(path) into place when written is
// true, replacing an older one. When written is false or the rename fails,
// removes the partial file and returns false.
bool PlaceFile(const std::string& path, bool written);

// Says on stderr why the state file of --load-state cannot be taken up;
// false, for the caller to return.
bool RefuseState(const char* path, const char* why);
// Opens a state file to read, with its size in bytes; null, refused, when
// it cannot be read.
FILE* OpenStateFile(const char* path, uintmax_t& size);
// Reads the state file at path into state, through state.Read(file, size,
// path); false, refused with the reason on stderr, when it cannot.
template <class State>
bool ReadStateFile(State& state, const char* path) {
    uintmax_t size = 0;
    FILE* file = OpenStateFile(path, size);
    if (file == nullptr) return false;
    const bool read = state.Read(file, size, path);
    fclose(file);
    return read;
}

// Something a headless run keeps as it goes. The run loop calls Start once
// the fluid is set up (or loaded), Write then and after every N steps, and
// Finish after the last step. Each returns false, with a message on stderr,
// when it cannot go on; the run then stops with exit code 1.
struct RunOutput {
    virtual ~RunOutput() = default;
    virtual bool Start(RunSubject& subject) = 0;
    virtual bool Write(RunSubject& subject, long step) = 0;
    virtual bool Finish(RunSubject& subject, long step) = 0;
};

// VTK XML PolyData: DIR/particles-<step>.vtp for every exported step and
// DIR/particles.pvd listing them with their simulated time, rewritten after
// each (in long exports after every sixteenth more), so that a run that ends
// early still leaves a time series.
struct VtkExport : RunOutput {
    std::string folder;
    long files = 0;
    // Files in the particles.pvd on disk.
    long listed = 0;
    std::string collection;
    std::vector<char> block;

    explicit VtkExport(const char* folder) : folder(FolderName(folder)) {}
    bool Start(RunSubject& subject) override;
    bool Write(RunSubject& subject, long step) override;
    bool Finish(RunSubject& subject, long step) override;
    // Writes particles.pvd with every file so far.
    bool WriteListing();
};
