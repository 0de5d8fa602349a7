#include "outputs/output.h"

#include <cstdio>
#include <filesystem>
#include <system_error>

std::string FolderName(const char* folder) {
    std::string name(folder);
    // "frames/" names the folder frames; a lone "/" stays the root.
    while (name.size() > 1 && (name.back() == '/' || (kBackslashSeparates && name.back() == '\\'))) name.pop_back();
    return name;
}

bool MakeOutputFolder(const std::string& folder, const char* option) {
    std::error_code error;
    if (std::filesystem::is_directory(folder, error)) return true;
    if (!std::filesystem::create_directory(folder, error)) {
        fprintf(stderr, "%s %s: cannot make the folder: %s\n", option, folder.c_str(), error.message().c_str());
        return false;
    }
    return true;
}

std::string PartialName(const std::string& path) {
    const size_t slash = path.find_last_of(kBackslashSeparates ? "/\\" : "/");
    const size_t dot = path.rfind('.');
    const size_t nameStart = slash == std::string::npos ? 0 : slash + 1;
    if (dot == std::string::npos || dot <= nameStart) return path + ".partial";
    return path.substr(0, dot) + ".partial" + path.substr(dot);
}

bool PlaceFile(const std::string& path, bool written) {
    const std::string partial = PartialName(path);
    std::error_code error;
    if (written) std::filesystem::rename(partial, path, error);
    if (!written || error) {
        std::error_code ignored;
        std::filesystem::remove(partial, ignored);
        return false;
    }
    return true;
}

bool RefuseState(const char* path, const char* why) {
    fprintf(stderr, "--load-state %s: %s\n", path, why);
    return false;
}

FILE* OpenStateFile(const char* path, uintmax_t& size) {
    std::error_code error;
    size = std::filesystem::file_size(path, error);
    FILE* file = error ? nullptr : fopen(path, "rb");
    if (file == nullptr) RefuseState(path, "cannot read the file");
    return file;
}
