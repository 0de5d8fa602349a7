// Pictures as PNG files, through libpng.

#include <png.h>

#include <cstdio>
#include <cstring>

#include "offscreen/offscreen.h"

bool WritePng(const char* path, int width, int height, const std::vector<Rgba8>& pixels, char* error,
              int errorSize) {
    if (width <= 0 || height <= 0 || width > (1 << 24) || pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) {
        snprintf(error, static_cast<size_t>(errorSize), "%zu pixels do not make a %dx%d picture", pixels.size(),
                 width, height);
        return false;
    }
    // Smoothed points leave coverage in alpha; the picture is what the
    // window shows, so alpha is dropped rather than written as transparency.
    std::vector<png_byte> rgb;
    rgb.reserve(pixels.size() * 3);
    for (const Rgba8& p : pixels) {
        rgb.push_back(p.r);
        rgb.push_back(p.g);
        rgb.push_back(p.b);
    }
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    image.width = static_cast<png_uint_32>(width);
    image.height = static_cast<png_uint_32>(height);
    image.format = PNG_FORMAT_RGB;
    // A negative stride tells libpng that the bottom row comes first.
    const png_int_32 stride = -static_cast<png_int_32>(width * 3);
    if (png_image_write_to_file(&image, path, 0, rgb.data(), stride, nullptr) == 0) {
        snprintf(error, static_cast<size_t>(errorSize), "cannot write %s: %s", path, image.message);
        png_image_free(&image);
        return false;
    }
    return true;
}
