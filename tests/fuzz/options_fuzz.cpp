// Arbitrary command lines for the headless drivers (arguments separated by
// NUL bytes). The parser must return, never exit, with Run, Exit or Fail
// (exit codes 0 and 2), say why it fails, leave only options in range for a
// run, and write nothing: files are made by the run, not by reading the
// command line.
//
// Built with PONDSIM_FUZZ_LAB for the lab's driver, whose options may also
// come from a file: what follows the first empty argument (two NUL bytes in
// a row) is the file named "c" in the working folder, for --config c. A run
// it lets through must hold only names and settings the run takes up.

#include <dirent.h>
#include <fcntl.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "headless/options.h"
#include "headless/preflight.h"
#include "tests/fuzz/fuzz_checks.h"

#if defined(PONDSIM_FUZZ_LAB)
#include "headless/lab_options.h"
#include "sim/lab/lab_parameter_table.h"
#include "sim/lab/scenes.h"
#include "view/lab_drawing.h"
#endif

namespace {

#if defined(PONDSIM_FUZZ_LAB)
constexpr char kProgram[] = "pondsim-lab-headless";
constexpr char kConfigFile[] = "c";
#else
constexpr char kProgram[] = "pondsim-headless";
#endif

// Entries of the working folder, which starts empty (or holds the
// configuration file alone).
int FolderEntries() {
    DIR* folder = opendir(".");
    if (folder == nullptr) abort();
    int count = 0;
    while (const dirent* entry = readdir(folder)) {
        if (std::strcmp(entry->d_name, ".") != 0 && std::strcmp(entry->d_name, "..") != 0) ++count;
    }
    closedir(folder);
    return count;
}

// Relative names in the command lines land in a folder of our own, the
// working folder only while the parser runs: libFuzzer's own corpus and
// artifact paths may be relative to the folder it was started in.
char scratch[] = "/tmp/pondsim-options-fuzz-XXXXXX";
int startFolder = -1;

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    startFolder = open(".", O_RDONLY | O_DIRECTORY);
    if (startFolder < 0 || mkdtemp(scratch) == nullptr) abort();
    atexit([] { rmdir(scratch); });
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::vector<std::string> words(1);
    size_t i = 0;
    bool config = false;
    for (; i < size && words.size() <= 32; ++i) {
        if (data[i] == 0) {
#if defined(PONDSIM_FUZZ_LAB)
            if (words.back().empty() && words.size() > 1) {
                words.pop_back();
                config = true;
                ++i;
                break;
            }
#endif
            words.emplace_back();
        } else {
            words.back() += static_cast<char>(data[i]);
        }
    }
#if defined(PONDSIM_FUZZ_LAB)
    // The rest of the input is the configuration file.
    if (config) {
        if (chdir(scratch) != 0) abort();
        FILE* file = fopen(kConfigFile, "wb");
        if (file == nullptr || (i < size && fwrite(data + i, size - i, 1, file) != 1) || fclose(file) != 0) abort();
        if (fchdir(startFolder) != 0) abort();
    }
#endif
    std::vector<char*> argv = {const_cast<char*>(kProgram)};
    for (std::string& word : words) argv.push_back(word.data());
    argv.push_back(nullptr);

    static char printed[8192];
    static char said[2048];
    std::memset(printed, 0, sizeof printed);
    std::memset(said, 0, sizeof said);
    FILE* out = fmemopen(printed, sizeof printed - 1, "w");
    FILE* messages = fmemopen(said, sizeof said - 1, "w");
    if (out == nullptr || messages == nullptr) abort();
    FILE* const console[2] = {stdout, stderr};
    stdout = out;
    stderr = messages;
    if (chdir(scratch) != 0) abort();
#if defined(PONDSIM_FUZZ_LAB)
    LabOptions lab;
    Options& options = lab.run;
    const ParseResult result = ParseLabOptions(static_cast<int>(argv.size() - 1), argv.data(), lab);
#else
    Options options;
    const ParseResult result = ParseOptions(static_cast<int>(argv.size() - 1), argv.data(), options);
#endif
    // What the options say together is judged before anything outside them
    // (folders, ffmpeg) is looked at; only a run past that is held to range.
    const bool agree = result != ParseResult::Run || OptionsAgree(options);
    stdout = console[0];
    stderr = console[1];
    fclose(out);
    fclose(messages);
    const int left = FolderEntries() - (config ? 1 : 0);
#if defined(PONDSIM_FUZZ_LAB)
    if (config && unlink(kConfigFile) != 0) abort();
#endif
    if (fchdir(startFolder) != 0) abort();

    if (left != 0) FuzzFail("reading the command line left a file behind", left);
    switch (result) {
        case ParseResult::Exit:
            if (printed[0] == '\0') FuzzFail("exit 0 with nothing printed", 0);
            return 0;
        case ParseResult::Fail:
            if (said[0] == '\0') FuzzFail("exit 2 without a message", 0);
            return 0;
        case ParseResult::Run:
            if (!agree) {
                if (said[0] == '\0') FuzzFail("refused options without a message", 0);
                return 0;
            }
            break;
        default: FuzzFail("neither run, exit 0 nor exit 2", static_cast<long long>(result));
    }
    if (options.steps < 0 || options.steps > 1000000000L || options.particles < -1 || options.particles > 2000000L ||
        options.width < 1 || options.width > 8192 || options.height < 1 || options.height > 8192 ||
        options.fps < 1 || options.fps > 240 || options.every < 1 || options.frames < 0 || options.checkEvery < 0 ||
        (options.video != nullptr && (options.width % 2 != 0 || options.height % 2 != 0)) ||
        (options.loadState != nullptr && options.particles >= 0)) {
        FuzzFail("a run with options out of range", options.steps);
    }
#if defined(PONDSIM_FUZZ_LAB)
    // The driver takes up the preset, scene, colours and settings without
    // asking again: each must be one it knows.
    LabParameters parameters;
    SceneKind scene;
    LabColourField colour;
    if (!ParametersByName(lab.preset, parameters) || !SceneByName(lab.scene, scene) ||
        !LabColourFieldByName(lab.colour, colour)) {
        FuzzFail("a run with an unknown preset, scene or colour field", 0);
    }
    if (lab.particles < 0 || lab.particles > 20000000 || lab.threads < 1 || lab.threads > 256 || lab.probeEvery < 0 ||
        (lab.particlesGiven && options.loadState != nullptr)) {
        FuzzFail("a lab run with options out of range", lab.particles);
    }
    std::string why;
    for (const std::string& setting : lab.settings) {
        if (!ApplyLabSetting(setting, parameters, why)) FuzzFail("a run with a setting the solver refuses", 0);
    }
#endif
    return 0;
}
