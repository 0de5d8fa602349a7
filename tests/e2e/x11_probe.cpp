// Small X11 helper for the end-to-end tests: reads a window's pixels, sends
// the window manager's close request, compares two screenshots. Works on any
// X client, the native programs as well as Wine's windows.
//
//   x11-probe shot WINDOW OUT.ppm    save the window's pixels, print figures
//   x11-probe stats IN.ppm           the same figures for a saved picture
//   x11-probe diff A.ppm B.ppm       count the pixels that differ
//   x11-probe close WINDOW           send WM_PROTOCOLS / WM_DELETE_WINDOW
//
// Figures: "size=WxH black=N particle=N other=N" and, over the particle
// pixels, the mean column cx and row cy, the 2nd and 98th percentile of
// their columns x02 x98, and the range of their green and blue values.
// A particle pixel is blue to cyan: no red, blue at least 60 and at least
// the green (the drawing's colour runs from (0, 0, 0.3) to (0, 1, 1)).
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

namespace {

struct Picture {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;
};

bool ParseWindow(const char* text, Window& window) {
    char* end = nullptr;
    const unsigned long value = std::strtoul(text, &end, 0);
    if (end == text || *end != '\0' || value == 0) return false;
    window = static_cast<Window>(value);
    return true;
}

int Ignore(Display*, XErrorEvent*) {
    return 0;
}

bool Grab(Display* display, Window window, Picture& picture) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes)) return false;
    if (attributes.map_state != IsViewable) return false;
    XImage* image = XGetImage(display, window, 0, 0, attributes.width, attributes.height,
                              AllPlanes, ZPixmap);
    if (image == nullptr) return false;
    picture.width = attributes.width;
    picture.height = attributes.height;
    picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
    // Channel positions from the visual's masks: no assumption about depth
    // order beyond a true-colour visual.
    auto shiftOf = [](unsigned long mask) {
        int shift = 0;
        while (mask != 0 && (mask & 1) == 0) {
            mask >>= 1;
            ++shift;
        }
        return shift;
    };
    const int rs = shiftOf(image->red_mask);
    const int gs = shiftOf(image->green_mask);
    const int bs = shiftOf(image->blue_mask);
    size_t at = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y);
            picture.rgb[at++] = static_cast<uint8_t>((pixel & image->red_mask) >> rs);
            picture.rgb[at++] = static_cast<uint8_t>((pixel & image->green_mask) >> gs);
            picture.rgb[at++] = static_cast<uint8_t>((pixel & image->blue_mask) >> bs);
        }
    }
    XDestroyImage(image);
    return true;
}

bool Save(const Picture& picture, const char* path) {
    FILE* file = std::fopen(path, "wb");
    if (file == nullptr) return false;
    std::fprintf(file, "P6\n%d %d\n255\n", picture.width, picture.height);
    const bool written = std::fwrite(picture.rgb.data(), 1, picture.rgb.size(), file) ==
                         picture.rgb.size();
    return std::fclose(file) == 0 && written;
}

bool Load(const char* path, Picture& picture) {
    FILE* file = std::fopen(path, "rb");
    if (file == nullptr) return false;
    int maxValue = 0;
    const bool header = std::fscanf(file, "P6 %d %d %d", &picture.width, &picture.height,
                                    &maxValue) == 3 &&
                        std::fgetc(file) != EOF && maxValue == 255 && picture.width > 0 &&
                        picture.height > 0 && picture.width < 100000 && picture.height < 100000;
    bool read = false;
    if (header) {
        picture.rgb.resize(static_cast<size_t>(picture.width) * picture.height * 3);
        read = std::fread(picture.rgb.data(), 1, picture.rgb.size(), file) == picture.rgb.size();
    }
    std::fclose(file);
    return read;
}

void PrintStats(const Picture& picture) {
    long black = 0;
    long particle = 0;
    long other = 0;
    double sumX = 0.0;
    double sumY = 0.0;
    int gMin = 255, gMax = 0, bMin = 255, bMax = 0;
    std::vector<int> columns;
    size_t at = 0;
    for (int y = 0; y < picture.height; ++y) {
        for (int x = 0; x < picture.width; ++x, at += 3) {
            const int r = picture.rgb[at];
            const int g = picture.rgb[at + 1];
            const int b = picture.rgb[at + 2];
            if (r <= 16 && g <= 16 && b <= 16) {
                ++black;
            } else if (r <= 16 && b >= 60 && b >= g) {
                ++particle;
                sumX += x;
                sumY += y;
                columns.push_back(x);
                gMin = std::min(gMin, g);
                gMax = std::max(gMax, g);
                bMin = std::min(bMin, b);
                bMax = std::max(bMax, b);
            } else {
                ++other;
            }
        }
    }
    std::printf("size=%dx%d black=%ld particle=%ld other=%ld", picture.width, picture.height,
                black, particle, other);
    if (particle > 0) {
        std::sort(columns.begin(), columns.end());
        const int x02 = columns[columns.size() * 2 / 100];
        const int x98 = columns[columns.size() * 98 / 100];
        std::printf(" cx=%.1f cy=%.1f x02=%d x98=%d green=%d-%d blue=%d-%d",
                    sumX / particle, sumY / particle, x02, x98, gMin, gMax, bMin, bMax);
    }
    std::printf("\n");
}

bool SendClose(Display* display, Window window) {
    XEvent event = {};
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(display, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = static_cast<long>(XInternAtom(display, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    const Status sent = XSendEvent(display, window, False, NoEventMask, &event);
    XSync(display, False);
    return sent != 0;
}

int Usage() {
    std::fprintf(stderr,
                 "usage: x11-probe shot WINDOW OUT.ppm | stats IN.ppm | diff A.ppm B.ppm | "
                 "close WINDOW\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) return Usage();
    const std::string command = argv[1];

    if (command == "stats" && argc == 3) {
        Picture picture;
        if (!Load(argv[2], picture)) {
            std::fprintf(stderr, "x11-probe: cannot read %s\n", argv[2]);
            return 1;
        }
        PrintStats(picture);
        return 0;
    }
    if (command == "diff" && argc == 4) {
        Picture a;
        Picture b;
        if (!Load(argv[2], a) || !Load(argv[3], b)) {
            std::fprintf(stderr, "x11-probe: cannot read the pictures\n");
            return 1;
        }
        if (a.width != b.width || a.height != b.height) {
            std::printf("differ=%ld of=%ld\n", static_cast<long>(a.width) * a.height,
                        static_cast<long>(a.width) * a.height);
            return 0;
        }
        long differ = 0;
        for (size_t i = 0; i < a.rgb.size(); i += 3) {
            if (std::memcmp(&a.rgb[i], &b.rgb[i], 3) != 0) ++differ;
        }
        std::printf("differ=%ld of=%ld\n", differ, static_cast<long>(a.width) * a.height);
        return 0;
    }

    Window window = 0;
    if ((command != "shot" && command != "close") || !ParseWindow(argv[2], window)) {
        return Usage();
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "x11-probe: cannot open the display\n");
        return 1;
    }
    // A window that went away between the search and this call is a plain
    // failure, not an abort by Xlib's default handler.
    XSetErrorHandler(Ignore);
    int status = 1;
    if (command == "shot" && argc == 4) {
        Picture picture;
        if (Grab(display, window, picture) && Save(picture, argv[3])) {
            PrintStats(picture);
            status = 0;
        } else {
            std::fprintf(stderr, "x11-probe: cannot read window 0x%lx\n", window);
        }
    } else if (command == "close" && argc == 3) {
        status = SendClose(display, window) ? 0 : 1;
    } else {
        status = Usage();
    }
    XCloseDisplay(display);
    return status;
}
