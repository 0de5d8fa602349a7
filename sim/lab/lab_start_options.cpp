#include "sim/lab/lab_start_options.h"

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

#include "sim/lab/lab_parameter_table.h"
#include "sim/lab/lab_parameters.h"
#include "sim/lab/scenes.h"

namespace {

// CLI11 words a failed check as "--name: why"; the demo drivers as
// "--name why".
std::string DemoWording(std::string message) {
    const size_t colon = message.find(": wants");
    if (colon != std::string::npos && message.compare(0, 2, "--") == 0) message.erase(colon, 1);
    return message;
}

}  // namespace

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

void AddLabStartOptions(CLI::App& app, LabStartOptions& start) {
    app.set_config("--config", "", "read these options from FILE (INI or TOML: scene = \"dam\",\n"
                                   "set = [\"viscosity=0.5\"]); the command line overrides it");

    // A key the program does not know is a mistake in a file as on the command line.
    app.allow_config_extras(CLI::config_extras_mode::error);
    start.preset = LabPresets().front().name;
    start.scene = LabScenes().front().name;
    app.add_option("--preset", start.preset, ListOf(LabPresets(), [](const LabPreset& p, bool first) {
                       return std::string(p.name) + " (" + p.description + (first ? ", default)" : ")");
                   }))->check(OneOf(NamesOf(LabPresets())));
    app.add_option("--scene", start.scene, ListOf(LabScenes(), [](const SceneInfo& s, bool first) {
                       return std::string(s.name) + (first ? " (default)" : "");
                   }) + ",\nor FILE.toml: a scene file (data/scenes/ holds each of them)")
        ->check(CLI::Validator(
            [&start](std::string& text) -> std::string {
                std::string why;
                if (!IsLabSceneFile(text)) return OneOf(NamesOf(LabScenes()))(text);
                return ReadLabSceneFile(text, start.sceneFile, why) ? std::string() : "wants a scene file: " + why;
            },
            "NAME|FILE.toml"));
    app.add_option("--particles", start.particles,
                   "particles of the scene (default: the scene's, listed below; lattice scenes\n"
                   "round to whole layers)")
        ->check(CountIn(0, kMaxLabParticles));
    app.add_option("--set", start.settings, "NAME=VALUE: a parameter of the solver (listed below)")
        ->allow_extra_args(false)
        ->check(CLI::Validator(
            [](std::string& text) -> std::string {
                LabParameters scratch;
                std::string why;
                return ApplyLabSetting(text, scratch, why) ? std::string() : "wants NAME=VALUE: " + why;
            },
            "NAME=VALUE"));
}

void TakeLabSceneFile(const LabSceneDescription& file, bool presetGiven, LabStartOptions& start) {
    start.scene = SceneName(file.kind);
    if (!presetGiven && !file.preset.empty()) start.preset = file.preset;
    if (!start.particlesGiven && file.count > 0) {
        start.particles = file.count;
        start.particlesGiven = true;
    }
    start.settings.insert(start.settings.begin(), file.settings.begin(), file.settings.end());
}

void FinishLabStartOptions(const CLI::App& app, LabStartOptions& start) {
    start.particlesGiven = app.count("--particles") > 0;
    if (IsLabSceneFile(start.scene)) TakeLabSceneFile(start.sceneFile, app.count("--preset") > 0, start);
    if (!start.particlesGiven) start.particles = DefaultParticles(start.scene);
}

std::string LabParseMistake(const CLI::Error& error) {
    const std::string what = error.what();
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr) {
        const size_t colon = what.find(": ");
        std::string first = colon == std::string::npos ? what : what.substr(colon + 2);
        if (first.size() > 2 && first.front() == '[') first = first.substr(1, first.find_first_of(",]") - 1);
        return "unknown argument '" + first + "' (try --help)";
    }
    if (dynamic_cast<const CLI::FileError*>(&error) != nullptr ||
        dynamic_cast<const CLI::ConfigError*>(&error) != nullptr) {
        return "--config: " + what;
    }
    return DemoWording(what) + " (try --help)";
}

int LabParseFailure(const CLI::App& app, const CLI::Error& error) {
    if (dynamic_cast<const CLI::CallForHelp*>(&error) != nullptr) {
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
        return 0;
    }
    if (dynamic_cast<const CLI::CallForVersion*>(&error) != nullptr) {
        printf("%s\n", error.what());
        return 0;
    }
    fprintf(stderr, "%s\n", LabParseMistake(error).c_str());
    return 2;
}

long DefaultParticles(const std::string& scene) {
    SceneKind kind = SceneKind::Scatter;
    SceneByName(scene, kind);
    return LabScene(kind).defaultCount;
}
