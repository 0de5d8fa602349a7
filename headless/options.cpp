#include "headless/options.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "sim/core/random_sources.h"

namespace {

void PrintUsage(FILE* out, const char* program) {
    fprintf(out,
            "usage: %s-headless [--steps N] [--particles N] [--snapshot FILE.png]\n"
            "                   [--size WxH] [--frames N] [--search reference|grid]\n"
            "                   [--check N] [--record DIR] [--video FILE.mp4|FILE.webm]\n"
            "                   [--fps F] [--export DIR] [--every N]\n"
            "                   [--save-state FILE] [--load-state FILE] [--rand runtime|msvcrt]\n"
            "                   [--version]\n"
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
            "  --record DIR   a PNG of the scene (camera and --size as for --snapshot)\n"
            "                 after set-up and after every N steps, DIR/frame-<step>.png\n"
            "  --video FILE.mp4|FILE.webm\n"
            "                 the same frames as a video (H.264 or VP9 by the name's\n"
            "                 ending), streamed to ffmpeg, which must be on PATH;\n"
            "                 both sides of --size must be even\n"
            "  --fps F        frames per second of the video (default 30, 1 to 240)\n"
            "  --export DIR   the particles as VTK XML PolyData after set-up and after\n"
            "                 every N steps, DIR/particles-<step>.vtp (points: positions;\n"
            "                 point data: velocity, acceleration, density, pressure,\n"
            "                 neighbourCount), and DIR/particles.pvd with the simulated\n"
            "                 time of each (step x 0.004 s) for ParaView\n"
            "  --every N      steps between recorded or exported frames (default 1)\n"
            "  --save-state FILE\n"
            "                 after the run, save the particles, the camera and the step\n"
            "                 number (replaces FILE only once the new one is complete)\n"
            "  --load-state FILE\n"
            "                 before the run, go on from a saved state of this program;\n"
            "                 steps are then counted on from the saved step number\n"
            "  --rand runtime|msvcrt\n"
            "                 what the scatter draws from: this runtime's rand()\n"
            "                 (default), or the Microsoft C runtime's generator, so\n"
            "                 that a run anywhere scatters what the Windows programs do\n"
            "  --version      the program's name and version\n"
            "  --help         this text\n"
            "\n"
            "Every file to be written is checked before the run: its folder must exist\n"
            "and be writable (DIR itself may be new), or the driver stops with exit\n"
            "code 2; so do a state file that is damaged or of the other program, and a\n"
            "missing ffmpeg or one that cannot encode a test frame. Each file is written\n"
            "under a partial name and renamed when complete; a run that fails midway\n"
            "exits with 1 and leaves no partial file. Ctrl-C (SIGINT) or SIGTERM ends the\n"
            "run after the current step, which is kept, with every file complete and the\n"
            "report printed; the exit code is then 130 (143 for SIGTERM). On a terminal a\n"
            "progress bar shows the run.\n"
            "Prints milliseconds per step for each stage (median and 95th percentile),\n"
            "neighbour figures, non-finite positions and a 64-bit FNV-1a hash of the\n"
            "particle state, equal only for runs that agree bit for bit.\n"
            "Drawing needs no display: it uses Mesa's surfaceless EGL platform on Linux\n"
            "and a hidden window's OpenGL context on Windows.\n",
            program);
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

// The value of an option that counts, from low to high.
bool TakeCount(const char* option, const char* value, long low, long high, long& out) {
    long count = 0;
    if (!ParseCount(value, high, count) || count < low) {
        fprintf(stderr, "%s wants a whole number from %ld to %ld\n", option, low, high);
        return false;
    }
    out = count;
    return true;
}

// The value of an option that names a file or folder.
bool TakePath(const char* option, const char* value, const char*& out) {
    if (value == nullptr || *value == '\0') {
        fprintf(stderr, "%s wants a file or folder name\n", option);
        return false;
    }
    out = value;
    return true;
}

// Thrown by an option's callback once its complaint is on stderr.
struct Refused {};

}  // namespace

ParseResult ParseOptions(int argc, char** argv, Options& options) {
    CLI::App app;
    app.set_help_flag();
    app.allow_windows_style_options(false);
    const CLI::Option* help = app.add_flag("--help,-h");
    const CLI::Option* version = app.add_flag("--version");

    // The value of each option is the next word, whatever it looks like, and
    // the options keep pointers into argv: every callback takes the word
    // CLI11 read for it from here, in command-line order. Each callback runs
    // as its option is read, so the first mistake on the line is the one
    // reported.
    std::vector<const char*> values;
    size_t taken = 0;
    const auto option = [&app, &values, &taken](const char* name, std::function<bool(const char*)> take) {
        app.add_option_function<std::string>(name, [&values, &taken, take](const std::string&) {
               if (!take(values[taken++])) throw Refused{};
           })->trigger_on_parse();
    };
    const auto count = [&option](const char* name, long low, long high, long& out, bool* given) {
        option(name, [name, low, high, &out, given](const char* value) {
            if (!TakeCount(name, value, low, high, out)) return false;
            if (given != nullptr) *given = true;
            return true;
        });
    };
    const auto path = [&option](const char* name, const char*& out) {
        option(name, [name, &out](const char* value) { return TakePath(name, value, out); });
    };
    count("--steps", 0, 1000000000L, options.steps, nullptr);
    count("--particles", 0, 2000000L, options.particles, nullptr);
    count("--every", 1, 1000000000L, options.every, &options.everyGiven);
    count("--fps", 1, 240L, options.fps, &options.fpsGiven);
    count("--frames", 1, 1000000L, options.frames, nullptr);
    count("--check", 1, 1000000000L, options.checkEvery, nullptr);
    path("--snapshot", options.snapshot);
    path("--record", options.record);
    path("--video", options.video);
    path("--export", options.exportFolder);
    path("--save-state", options.saveState);
    path("--load-state", options.loadState);
    option("--size", [&options](const char* value) {
        if (!ParseSize(value, 8192L, options.width, options.height)) {
            fprintf(stderr, "--size wants WIDTHxHEIGHT in pixels, each from 1 to 8192, such as 800x600\n");
            return false;
        }
        options.sizeGiven = true;
        return true;
    });
    option("--rand", [&options](const char* value) {
        if (std::strcmp(value, "runtime") == 0) {
            options.random = rand;
        } else if (std::strcmp(value, "msvcrt") == 0) {
            options.random = MsvcrtRand;
        } else {
            fprintf(stderr, "--rand wants runtime or msvcrt\n");
            return false;
        }
        return true;
    });
    option("--search", [&options](const char* value) {
        if (std::strcmp(value, "reference") != 0 && std::strcmp(value, "grid") != 0) {
            fprintf(stderr, "--search wants reference or grid\n");
            return false;
        }
        options.referenceSearch = std::strcmp(value, "reference") == 0;
        return true;
    });

    // The command line is options named in full, each with its value as the
    // next word (a missing last one reads as empty): no --name=value, no
    // bundled short flags, no "--". CLI11 reads the words up to the first
    // that is none of its options, which is reported once all before it
    // read clean.
    std::vector<const char*> words = {argv[0]};
    int known = 1;
    for (; known < argc; ++known) {
        const CLI::Option* named = app.get_option_no_throw(argv[known]);
        if (named == nullptr) break;
        words.push_back(argv[known]);
        if (named->get_items_expected_max() > 0) {
            values.push_back(known + 1 < argc ? argv[known + 1] : "");
            words.push_back(values.back());
            ++known;
        }
    }
    try {
        app.parse(static_cast<int>(words.size()), words.data());
    } catch (const Refused&) {
        return ParseResult::Fail;
    }
    if (known < argc) {
        fprintf(stderr, "unknown argument '%s' (try --help)\n", argv[known]);
        return ParseResult::Fail;
    }
    // Help and version answer only a command line that is whole; the first
    // of them given is the answer.
    for (const CLI::Option* given : app.parse_order()) {
        if (given == version) {
            printf("%s-headless %s\n", options.program, PONDSIM_VERSION);
            return ParseResult::Exit;
        }
        if (given == help) {
            PrintUsage(stdout, options.program);
            return ParseResult::Exit;
        }
    }
    return ParseResult::Run;
}
