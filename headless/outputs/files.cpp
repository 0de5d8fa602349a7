#include "headless/outputs/output.h"

#include <filesystem>
#include <system_error>

bool MakeOutputFolder(const std::string& folder, const char* option) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return true;
    if (!std::filesystem::create_directory(folder, error)) {
        fprintf(stderr, "%s %s: cannot make the folder: %s\n", option, folder.c_str(), error.message().c_str());
        return false;
    }
    return true;
}
