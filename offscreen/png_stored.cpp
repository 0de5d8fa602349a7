// Pictures as PNG files without libpng, which has no MinGW build to link:
// the rows go into stored (uncompressed) deflate blocks, which every PNG
// reader takes. Larger files than libpng's, the same pixels.

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

#include "offscreen/offscreen.h"

namespace {

uint32_t Crc32(const uint8_t* data, size_t size, uint32_t crc) {
    static uint32_t table[256];
    if (table[1] == 0) {
        for (uint32_t n = 0; n < 256; ++n) {
            uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) != 0 ? 0xedb88320u ^ (c >> 1) : c >> 1;
            table[n] = c;
        }
    }
    for (size_t i = 0; i < size; ++i) crc = table[(crc ^ data[i]) & 0xff] ^ (crc >> 8);
    return crc;
}

void PutBig32(std::vector<uint8_t>& out, uint32_t value) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(static_cast<uint8_t>(value >> shift));
}

// Length, type, data and the CRC of type and data.
void PutChunk(std::vector<uint8_t>& file, const char* type, const std::vector<uint8_t>& data) {
    PutBig32(file, static_cast<uint32_t>(data.size()));
    const size_t typeAt = file.size();
    file.insert(file.end(), type, type + 4);
    file.insert(file.end(), data.begin(), data.end());
    PutBig32(file, Crc32(file.data() + typeAt, data.size() + 4, 0xffffffffu) ^ 0xffffffffu);
}

}  // namespace

bool WritePng(const char* path, int width, int height, const std::vector<Rgba8>& pixels, char* error,
              int errorSize) {
    if (width <= 0 || height <= 0 || width > (1 << 24) ||
        pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) {
        snprintf(error, static_cast<size_t>(errorSize), "%zu pixels do not make a %dx%d picture", pixels.size(),
                 width, height);
        return false;
    }
    // Each row: filter type 0, then RGB, top row first (the pixels come
    // bottom row first). Alpha is dropped, as the window shows no alpha.
    std::vector<uint8_t> raw;
    raw.reserve(static_cast<size_t>(height) * (static_cast<size_t>(width) * 3 + 1));
    for (int y = height - 1; y >= 0; --y) {
        raw.push_back(0);
        for (int x = 0; x < width; ++x) {
            const Rgba8& p = pixels[static_cast<size_t>(y) * static_cast<size_t>(width) + static_cast<size_t>(x)];
            raw.push_back(p.r);
            raw.push_back(p.g);
            raw.push_back(p.b);
        }
    }

    // zlib stream: header, stored blocks of at most 65535 bytes, Adler-32.
    std::vector<uint8_t> zlib = {0x78, 0x01};
    size_t at = 0;
    do {
        const size_t length = raw.size() - at < 65535 ? raw.size() - at : 65535;
        zlib.push_back(at + length == raw.size() ? 1 : 0);
        zlib.push_back(static_cast<uint8_t>(length));
        zlib.push_back(static_cast<uint8_t>(length >> 8));
        zlib.push_back(static_cast<uint8_t>(~length));
        zlib.push_back(static_cast<uint8_t>(~length >> 8));
        zlib.insert(zlib.end(), raw.begin() + static_cast<std::ptrdiff_t>(at),
                    raw.begin() + static_cast<std::ptrdiff_t>(at + length));
        at += length;
    } while (at < raw.size());
    uint32_t a = 1;
    uint32_t b = 0;
    for (uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    PutBig32(zlib, (b << 16) | a);

    std::vector<uint8_t> header;
    PutBig32(header, static_cast<uint32_t>(width));
    PutBig32(header, static_cast<uint32_t>(height));
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    std::vector<uint8_t> file = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};
    PutChunk(file, "IHDR", header);
    PutChunk(file, "IDAT", zlib);
    PutChunk(file, "IEND", {});

    FILE* out = fopen(path, "wb");
    const bool written = out != nullptr && fwrite(file.data(), 1, file.size(), out) == file.size();
    const int cause = errno;
    if (out != nullptr && fclose(out) != 0) {
        snprintf(error, static_cast<size_t>(errorSize), "cannot write %s: %s", path, strerror(errno));
        return false;
    }
    if (!written) {
        snprintf(error, static_cast<size_t>(errorSize), "cannot write %s: %s", path, strerror(cause));
        return false;
    }
    return true;
}
