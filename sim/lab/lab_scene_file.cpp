#include "sim/lab/lab_scene_file.h"

#include <CLI/CLI.hpp>

#include <fstream>

#include "sim/lab/lab_parameter_table.h"
#include "sim/lab/lab_parameters.h"

bool IsLabSceneFile(const std::string& text) {
    return text.size() > 5 && text.compare(text.size() - 5, 5, ".toml") == 0;
}

bool ReadLabSceneFile(const std::string& path, LabSceneDescription& out, std::string& why) {
    std::ifstream file(path);
    if (!file) {
        why = "cannot be read";
        return false;
    }
    std::vector<CLI::ConfigItem> items;
    try {
        items = CLI::ConfigTOML().from_config(file);
    } catch (const CLI::Error& e) {
        why = e.what();
        return false;
    }
    LabSceneDescription read;
    bool named = false;
    for (const CLI::ConfigItem& item : items) {
        // Section starts and ends.
        if (item.name == "++" || item.name == "--") continue;
        const std::string key = item.fullname();
        const std::string value = item.inputs.size() == 1 ? item.inputs[0] : std::string();
        if (item.inputs.size() != 1) {
            why = key + " wants one value";
            return false;
        }
        if (!item.parents.empty() && item.parents[0] == "parameters") {
            const std::string setting = key.substr(sizeof "parameters") + "=" + value;
            LabParameters scratch;
            if (!ApplyLabSetting(setting, scratch, why)) return false;
            read.settings.push_back(setting);
        } else if (key == "scene") {
            if (!SceneByName(value, read.kind)) {
                why = "no scene is called " + value;
                return false;
            }
            named = true;
        } else if (key == "preset") {
            LabParameters scratch;
            if (!ParametersByName(value, scratch)) {
                why = "no preset is called " + value;
                return false;
            }
            read.preset = value;
        } else if (key == "particles") {
            char* end = nullptr;
            const long count = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || count < 1 || count > kMaxLabParticles) {
                why = "particles wants a whole number from 1 to " + std::to_string(kMaxLabParticles);
                return false;
            }
            read.count = static_cast<int32_t>(count);
        } else if (key != "description") {
            why = "no key is called " + key;
            return false;
        }
    }
    if (!named) {
        why = "names no scene (scene = \"dam\", say)";
        return false;
    }
    out = read;
    return true;
}
