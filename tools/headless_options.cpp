#include "tools/headless_options.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

namespace {

namespace fs = std::filesystem;

void PrintUsage(FILE* out) {
    fprintf(out,
            "usage: %s-headless [--steps N] [--particles N] [--snapshot FILE.png]\n"
            "                   [--size WxH] [--frames N] [--search reference|grid]\n"
            "                   [--check N] [--version]\n"
            "\n"
            "Builds the scene as the program does (500 particles, then 3000 at set-up),\n"
            "with no window, and advances it by N ticks.\n"
            "\n"
            "  --steps N      ticks to run (default 1000, 0 allowed)\n"
            "  --particles N  reseed with N particles after set-up\n"
            "  --snapshot FILE.png\n"
            "                 after the run, draw the scene offscreen from its camera\n"
            "                 and write the picture as a PNG\n"
            "  --size WxH     picture size in pixels, as the window's client area\n"
            "                 (default 800x600, each side 1 to 8192)\n"
            "  --frames N     after the run, draw N frames offscreen and print the\n"
            "                 milliseconds per frame (median and 95th percentile)\n"
            "  --search reference|grid\n"
            "                 how neighbours are found: the all-pairs scan, or the\n"
            "                 uniform grid that gives the same lists (default grid)\n"
            "  --check N      after every step, count positions that are not finite or\n"
            "                 lie outside the box; every N steps print those counts and\n"
            "                 the resident memory (current and peak), for long soaks\n"
            "  --version      the program's name and version\n"
            "  --help         this text\n"
            "\n"
            "Every file to be written is checked before the run: its folder must exist\n"
            "and be writable, or the driver stops with exit code 2.\n"
            "Prints milliseconds per step for each stage (median and 95th percentile),\n"
            "neighbour figures, non-finite positions and a 64-bit FNV-1a hash of the\n"
            "particle state, equal only for runs that agree bit for bit.\n"
            "Drawing needs no display: it uses Mesa's surfaceless EGL platform.\n",
            SolverVariant::name);
}

bool ParseCount(const char* text, long limit, long& out) {
    if (text == nullptr || *text == '\0') return false;
    char* end = nullptr;
    errno = 0;
    const long value = strtol(text, &end, 10);
    if (errno != 0 || *end != '\0' || value < 0 || value > limit) return false;
    out = value;
    return true;
}

// "WxH" with both sides from 1 to limit, in digits only (strtol alone would
// also take signs and spaces).
bool ParseSize(const char* text, long limit, long& width, long& height) {
    if (text == nullptr) return false;
    const char* cross = std::strchr(text, 'x');
    if (cross == nullptr) return false;
    for (const char* c = text; *c != '\0'; ++c) {
        if (c != cross && std::isdigit(static_cast<unsigned char>(*c)) == 0) return false;
    }
    const std::string widthText(text, cross);
    long w = 0;
    long h = 0;
    if (!ParseCount(widthText.c_str(), limit, w) || !ParseCount(cross + 1, limit, h) || w < 1 || h < 1) return false;
    width = w;
    height = h;
    return true;
}

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

// The file named by an option will be created or replaced after the run;
// its folder must be there and writable now. Complains for the option.
bool CheckOutputFile(const char* option, const char* path) {
    std::error_code error;
    const fs::path file(path);
    if (fs::is_directory(file, error)) {
        fprintf(stderr, "%s %s: that is a folder, not a file name\n", option, path);
        return false;
    }
    const fs::path folder = file.has_parent_path() ? file.parent_path() : fs::path(".");
    if (!fs::is_directory(folder, error)) {
        fprintf(stderr, "%s %s: the folder %s does not exist\n", option, path, folder.string().c_str());
        return false;
    }
    if (!FolderTakesFiles(folder)) {
        fprintf(stderr, "%s %s: cannot write into the folder %s\n", option, path, folder.string().c_str());
        return false;
    }
    return true;
}

bool CheckOutputs(const Options& options) {
    if (options.snapshot != nullptr && !CheckOutputFile("--snapshot", options.snapshot)) return false;
    return true;
}

}  // namespace

ParseResult ParseOptions(int argc, char** argv, Options& options) {
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
        if (std::strcmp(arg, "--help") == 0 || std::strcmp(arg, "-h") == 0) {
            PrintUsage(stdout);
            return ParseResult::Exit;
        } else if (std::strcmp(arg, "--version") == 0) {
            printf("%s-headless %s\n", SolverVariant::name, PONDSIM_VERSION);
            return ParseResult::Exit;
        } else if (std::strcmp(arg, "--steps") == 0) {
            if (!ParseCount(value, 1000000000L, options.steps)) {
                fprintf(stderr, "--steps wants a whole number from 0 to 1000000000\n");
                return ParseResult::Fail;
            }
            ++i;
        } else if (std::strcmp(arg, "--particles") == 0) {
            if (!ParseCount(value, 2000000L, options.particles)) {
                fprintf(stderr, "--particles wants a whole number from 0 to 2000000\n");
                return ParseResult::Fail;
            }
            ++i;
        } else if (std::strcmp(arg, "--snapshot") == 0) {
            if (value == nullptr || *value == '\0') {
                fprintf(stderr, "--snapshot wants the name of the PNG file to write\n");
                return ParseResult::Fail;
            }
            options.snapshot = value;
            ++i;
        } else if (std::strcmp(arg, "--size") == 0) {
            if (!ParseSize(value, 8192L, options.width, options.height)) {
                fprintf(stderr, "--size wants WIDTHxHEIGHT in pixels, each from 1 to 8192, such as 800x600\n");
                return ParseResult::Fail;
            }
            options.sizeGiven = true;
            ++i;
        } else if (std::strcmp(arg, "--frames") == 0) {
            if (!ParseCount(value, 1000000L, options.frames) || options.frames < 1) {
                fprintf(stderr, "--frames wants a whole number from 1 to 1000000\n");
                return ParseResult::Fail;
            }
            ++i;
        } else if (std::strcmp(arg, "--check") == 0) {
            if (!ParseCount(value, 1000000000L, options.checkEvery) || options.checkEvery < 1) {
                fprintf(stderr, "--check wants a whole number from 1 to 1000000000\n");
                return ParseResult::Fail;
            }
            ++i;
        } else if (std::strcmp(arg, "--search") == 0) {
            if (value != nullptr && std::strcmp(value, "reference") == 0) {
                options.search = NeighbourSearch::Reference;
            } else if (value != nullptr && std::strcmp(value, "grid") == 0) {
                options.search = NeighbourSearch::Grid;
            } else {
                fprintf(stderr, "--search wants reference or grid\n");
                return ParseResult::Fail;
            }
            ++i;
        } else {
            fprintf(stderr, "unknown argument '%s' (try --help)\n", arg);
            return ParseResult::Fail;
        }
    }
    if (options.sizeGiven && !options.Draws()) {
        fprintf(stderr, "note: --size has no effect without --snapshot or --frames; nothing is drawn\n");
    }
    return CheckOutputs(options) ? ParseResult::Run : ParseResult::Fail;
}
