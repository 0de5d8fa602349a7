#include "headless/lab_options.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "sim/lab/lab_parameter_table.h"
#include "sim/lab/lab_parameters.h"
#include "sim/core/random_sources.h"
#include "sim/lab/scenes.h"
#include "view/lab_drawing.h"

namespace {

constexpr long kMaxSteps = 1000000000L;

// A whole number from low to high, in digits only, worded as the demo
// drivers word it; CLI11 puts the option's name in front.
CLI::Validator CountIn(long low, long high) {
    const std::string wants = "wants a whole number from " + std::to_string(low) + " to " + std::to_string(high);
    return CLI::Validator(
        [low, high, wants](std::string& text) -> std::string {
            for (const char c : text) {
                if (std::isdigit(static_cast<unsigned char>(c)) == 0) return wants;
            }
            errno = 0;
            const long value = text.empty() ? -1 : std::strtol(text.c_str(), nullptr, 10);
            if (errno != 0 || value < low || value > high) return wants;
            return std::string();
        },
        std::to_string(low) + ".." + std::to_string(high));
}

// One of a list of names.
CLI::Validator OneOf(const std::vector<std::string>& names) {
    std::string list;
    for (const std::string& n : names) list += (list.empty() ? "" : "|") + n;
    return CLI::Validator(
        [names, list](std::string& text) -> std::string {
            for (const std::string& n : names) {
                if (text == n) return std::string();
            }
            return "wants " + list;
        },
        list);
}

std::string SceneNames() {
    std::string s;
    for (SceneKind k : {SceneKind::Scatter, SceneKind::Dam, SceneKind::DoubleDam, SceneKind::Pool, SceneKind::Drop}) {
        s += (s.empty() ? "" : ", ") + std::string(SceneName(k));
    }
    return s;
}

std::string ParameterList() {
    std::string s = "Parameters for --set (NAME, unit, range, meaning):\n";
    for (const LabParameterInfo& info : LabParameterTable()) {
        char line[320];
        if (info.kind == LabParameterInfo::Kind::Choice) {
            snprintf(line, sizeof line, "  %-23s %s: %s\n", info.name, info.choices, info.meaning);
        } else if (info.kind == LabParameterInfo::Kind::Switch) {
            snprintf(line, sizeof line, "  %-23s true|false: %s\n", info.name, info.meaning);
        } else {
            snprintf(line, sizeof line, "  %-23s %s%s%g to %g: %s\n", info.name, info.unit, *info.unit ? ", " : "",
                     info.min, info.max, info.meaning);
        }
        s += line;
    }
    return s;
}

// CLI11 words a failed check as "--name: why"; the demo drivers as
// "--name why".
std::string DemoWording(std::string message) {
    const size_t colon = message.find(": wants");
    if (colon != std::string::npos && message.compare(0, 2, "--") == 0) message.erase(colon, 1);
    return message;
}

}  // namespace

long DefaultParticles(const std::string& scene) {
    if (scene == "scatter") return 3000;
    if (scene == "double-dam") return 32000;
    return 16000;
}

ParseResult ParseLabOptions(int argc, char** argv, LabOptions& options) {
    Options& run = options.run;
    CLI::App app(
        "Runs the lab's solver without a window: a named scene under the classic or\n"
        "the water parameters, any of them changed with --set, for N steps, with the\n"
        "demo drivers' outputs and report.",
        "pondsim-lab-headless");
    app.get_formatter()->column_width(26);
    app.set_help_flag("--help,-h", "this text");
    app.set_version_flag("--version", std::string("pondsim-lab-headless ") + PONDSIM_VERSION,
                         "the program's name and version");
    app.set_config("--config", "", "read these options from FILE (INI or TOML: steps = 100, scene = \"dam\",\n"
                                   "set = [\"viscosity=0.5\"]); the command line overrides it");

    // A key the driver does not know is a mistake in a file as on the command line.
    app.allow_config_extras(CLI::config_extras_mode::error);
    app.add_option("--preset", options.preset, "classic (the demo's fluid, default) or water")
        ->check(OneOf({"classic", "water"}));
    app.add_option("--scene", options.scene, "scatter (default), dam, double-dam, pool or drop")
        ->check(OneOf({"scatter", "dam", "double-dam", "pool", "drop"}));
    app.add_option("--particles", options.particles,
                   "particles of the scene (default 3000 for the scatter, 32000 for the\n"
                   "double-dam, 16000 for the others; lattice scenes round to whole layers)")
        ->check(CountIn(0, 20000000));
    app.add_option("--set", options.settings, "NAME=VALUE: a parameter of the solver (listed below)")
        ->allow_extra_args(false)
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                LabParameters scratch;
                std::string why;
                return ApplyLabSetting(text, scratch, why) ? std::string() : "wants NAME=VALUE: " + why;
            },
            "NAME=VALUE"));
    app.add_option("--threads", options.threads, "threads the stages run on (default 1)")->check(CountIn(1, 256));
    std::vector<std::string> probe;
    app.add_option("--probe", probe,
                   "front [K]: every K steps (default 100) the dam's surge front and\n"
                   "column height, in metres and as z/a and height/a against T = t sqrt(2g/a)")
        ->expected(1, 2)
        ->allow_extra_args(false);
    app.add_option("--colour", options.colour, "what pictures are coloured by: neighbours (default),\n"
                                               "density, pressure or speed")
        ->check(OneOf({"neighbours", "density", "pressure", "speed"}));

    app.add_option("--steps", run.steps, "steps to run (default 1000, 0 allowed)")->check(CountIn(0, kMaxSteps));
    std::string size;
    app.add_option("--size", size, "WxH: picture size in pixels (default 800x600, each side 1 to 8192)");
    app.add_option("--frames", run.frames, "after the run, draw N frames and print ms per frame")
        ->check(CountIn(1, 1000000));
    app.add_option("--check", run.checkEvery,
                   "count positions that are not finite or outside the box after every step;\n"
                   "print them and the resident memory every N steps")
        ->check(CountIn(1, kMaxSteps));
    std::string snapshot, record, video, exportFolder, saveState, loadState;
    app.add_option("--snapshot", snapshot, "FILE.png: after the run, a picture from the camera");
    app.add_option("--record", record, "DIR: a PNG after set-up and every N steps, DIR/frame-<step>.png");
    app.add_option("--video", video, "FILE.mp4|FILE.webm: the same frames as a video through ffmpeg");
    app.add_option("--fps", run.fps, "frames per second of the video (default 30)")->check(CountIn(1, 240));
    app.add_option("--export", exportFolder,
                   "DIR: VTK XML PolyData after set-up and every N steps, with\n"
                   "DIR/particles.pvd listing each file's simulated time");
    app.add_option("--every", run.every, "steps between recorded or exported frames (default 1)")
        ->check(CountIn(1, kMaxSteps));
    app.add_option("--save-state", saveState, "FILE: after the run, the solver's state");
    app.add_option("--load-state", loadState,
                   "FILE: go on from a saved lab state, under its parameters (--set\n"
                   "changes them) and counting on from its step");
    std::string randName = "runtime";
    app.add_option("--rand", randName, "runtime|msvcrt: what the scatter draws from (default runtime)")
        ->check(OneOf({"runtime", "msvcrt"}));

    app.footer("Scenes: " + SceneNames() +
               ". The state hash (64-bit FNV-1a over every particle's position,\n"
               "velocity, acceleration, pressure, density and neighbour list) is the demo\n"
               "drivers' hash: the classic scatter of 3000 particles gives the demo's.\n"
               "Exit codes as the demo drivers': 0 a whole run, 2 a mistake on the command\n"
               "line or an unusable file, found before anything is built, 1 a failure during\n"
               "the run, 130/143 after SIGINT/SIGTERM.\n\n" +
               ParameterList());

    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        // The usage line first, as the demo drivers print it.
        std::string help = app.help();
        const size_t usage = help.find("Usage: ");
        if (usage != std::string::npos) {
            const size_t end = help.find('\n', usage);
            const std::string line = help.substr(usage + 7, end - usage - 7);
            help.erase(usage, end + 1 - usage);
            help = "usage: " + line + "\n\n" + help;
        }
        fputs(help.c_str(), stdout);
        return ParseResult::Exit;
    } catch (const CLI::CallForVersion& e) {
        printf("%s\n", e.what());
        return ParseResult::Exit;
    } catch (const CLI::ExtrasError& e) {
        std::string first = e.what();
        const size_t colon = first.find(": ");
        first = colon == std::string::npos ? first : first.substr(colon + 2);
        if (first.size() > 2 && first.front() == '[') first = first.substr(1, first.find_first_of(",]") - 1);
        fprintf(stderr, "unknown argument '%s' (try --help)\n", first.c_str());
        return ParseResult::Fail;
    } catch (const CLI::FileError& e) {
        fprintf(stderr, "--config: %s\n", e.what());
        return ParseResult::Fail;
    } catch (const CLI::ConfigError& e) {
        fprintf(stderr, "--config: %s\n", e.what());
        return ParseResult::Fail;
    } catch (const CLI::ParseError& e) {
        fprintf(stderr, "%s (try --help)\n", DemoWording(e.what()).c_str());
        return ParseResult::Fail;
    }

    // What CLI11 kept as text, taken as the demo drivers take it.
    const auto path = [](const std::string& s) { return s.empty() ? nullptr : s.c_str(); };
    static std::string kept[6];
    kept[0] = snapshot, kept[1] = record, kept[2] = video, kept[3] = exportFolder, kept[4] = saveState,
    kept[5] = loadState;
    run.snapshot = path(kept[0]);
    run.record = path(kept[1]);
    run.video = path(kept[2]);
    run.exportFolder = path(kept[3]);
    run.saveState = path(kept[4]);
    run.loadState = path(kept[5]);
    run.sizeGiven = app.count("--size") > 0;
    run.fpsGiven = app.count("--fps") > 0;
    run.everyGiven = app.count("--every") > 0;
    run.random = randName == "msvcrt" ? MsvcrtRand : rand;
    if (run.sizeGiven) {
        const size_t cross = size.find('x');
        const auto side = [](const std::string& t) {
            if (t.empty() || t.size() > 4 || t.find_first_not_of("0123456789") != std::string::npos) return -1L;
            return std::strtol(t.c_str(), nullptr, 10);
        };
        const long w = cross == std::string::npos ? -1 : side(size.substr(0, cross));
        const long h = cross == std::string::npos ? -1 : side(size.substr(cross + 1));
        if (w < 1 || h < 1 || w > 8192 || h > 8192) {
            fprintf(stderr, "--size wants WIDTHxHEIGHT in pixels, each from 1 to 8192, such as 800x600\n");
            return ParseResult::Fail;
        }
        run.width = w;
        run.height = h;
    }
    if (!probe.empty()) {
        if (probe[0] != "front") {
            fprintf(stderr, "--probe wants front, and a step count K from 1 to %ld\n", kMaxSteps);
            return ParseResult::Fail;
        }
        options.probeEvery = 100;
        if (probe.size() == 2) {
            std::string k = probe[1];
            if (!CountIn(1, kMaxSteps)(k).empty()) {
                fprintf(stderr, "--probe front K wants a whole number from 1 to %ld\n", kMaxSteps);
                return ParseResult::Fail;
            }
            options.probeEvery = std::strtol(k.c_str(), nullptr, 10);
        }
    }
    if (run.loadState != nullptr) {
        for (const char* given : {"--particles", "--scene", "--preset"}) {
            if (app.count(given) > 0) {
                fprintf(stderr, "%s and --load-state both say where the particles come from; give one\n", given);
                return ParseResult::Fail;
            }
        }
    }
    options.particlesGiven = app.count("--particles") > 0;
    if (!options.particlesGiven) options.particles = DefaultParticles(options.scene);
    return ParseResult::Run;
}
