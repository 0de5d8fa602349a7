#include <cstdio>

#include "outputs/pictures.h"

bool PngFrames::Start(RunSubject&) { return MakeOutputFolder(folder, "--record"); }

bool PngFrames::Write(RunSubject& subject, long step) {
    DrawPicture(subject, offscreen, pixels);
    char name[32];
    snprintf(name, sizeof name, "/frame-%06ld.png", step);
    const std::string path = folder + name;
    char error[512];
    const bool written =
        WritePng(PartialName(path).c_str(), offscreen.width, offscreen.height, pixels, error, sizeof error);
    if (!PlaceFile(path, written)) {
        if (written) snprintf(error, sizeof error, "cannot rename the finished picture to %s", path.c_str());
        fprintf(stderr, "--record: %s\n", error);
        return false;
    }
    return true;
}
