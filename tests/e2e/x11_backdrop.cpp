// Paints the root window of $DISPLAY one solid colour, so that a window
// which draws nothing over an area shows that colour there: the programs'
// windows have no background of their own, and a frame they render is black
// with blue to cyan points. Needs a server started with -noreset, which
// keeps the root's background after this client has gone.
//
// Usage: x11-backdrop RRGGBB

#include <X11/Xlib.h>

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: x11-backdrop RRGGBB\n");
        return 2;
    }
    char* end = nullptr;
    const unsigned long rgb = std::strtoul(argv[1], &end, 16);
    if (*end != '\0' || rgb > 0xFFFFFF) {
        std::fprintf(stderr, "x11-backdrop: not a colour: %s\n", argv[1]);
        return 2;
    }
    Display* display = XOpenDisplay(nullptr);
    if (display == nullptr) {
        std::fprintf(stderr, "x11-backdrop: cannot open the display\n");
        return 1;
    }
    const int screen = DefaultScreen(display);
    XColor colour = {};
    colour.red = static_cast<unsigned short>((rgb >> 16 & 0xFF) * 257);
    colour.green = static_cast<unsigned short>((rgb >> 8 & 0xFF) * 257);
    colour.blue = static_cast<unsigned short>((rgb & 0xFF) * 257);
    if (XAllocColor(display, DefaultColormap(display, screen), &colour) == 0) {
        std::fprintf(stderr, "x11-backdrop: cannot allocate the colour\n");
        XCloseDisplay(display);
        return 1;
    }
    const Window root = RootWindow(display, screen);
    XSetWindowBackground(display, root, colour.pixel);
    XClearWindow(display, root);
    XSync(display, False);
    XCloseDisplay(display);
    return 0;
}
