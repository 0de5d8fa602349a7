// The offscreen context's limits, and pictures written for the README the
// right way up and opaque. Built with libpng's writer and the offscreen
// context, and with the writer the Windows build uses (PONDSIM_PNG_STORED),
// natively and in the Windows build, where zlib alone reads it back (there
// is no MinGW libpng).

#ifndef PONDSIM_PNG_STORED
#include <GL/glew.h>
#endif
#include <gtest/gtest.h>
#ifndef _WIN32
#include <png.h>
#endif
#include <unistd.h>
#include <zlib.h>

#include <fstream>
#include <iterator>

#include <cstring>
#include <string>
#include <vector>

#include "offscreen/offscreen.h"

namespace {

std::string TempPath(const char* name) {
    return std::string(::testing::TempDir()) + "pondsim_" + std::to_string(getpid()) + "_" + name;
}

#ifndef _WIN32
struct Picture {
    png_uint_32 width = 0;
    png_uint_32 height = 0;
    png_uint_32 format = 0;
    std::vector<png_byte> rgba;  // top row first
};

bool ReadPng(const std::string& path, Picture& out) {
    png_image image;
    std::memset(&image, 0, sizeof image);
    image.version = PNG_IMAGE_VERSION;
    if (png_image_begin_read_from_file(&image, path.c_str()) == 0) return false;
    out.width = image.width;
    out.height = image.height;
    out.format = image.format;
    image.format = PNG_FORMAT_RGBA;
    out.rgba.resize(PNG_IMAGE_SIZE(image));
    return png_image_finish_read(&image, nullptr, out.rgba.data(), 0, nullptr) != 0;
}

TEST(WritePng, WritesTheTopRowFirstAndDropsAlpha) {
    // Three rows, bottom first as OpenGL reads them: red, green, blue; the
    // alpha a smoothed point may leave behind must not make it transparent.
    const int width = 2;
    const int height = 3;
    std::vector<Rgba8> pixels = {
        {255, 0, 0, 255}, {255, 0, 0, 255}, {0, 255, 0, 0}, {0, 255, 0, 0}, {0, 0, 255, 128}, {0, 0, 255, 128},
    };
    const std::string path = TempPath("rows.png");
    char error[256] = {};
    ASSERT_TRUE(WritePng(path.c_str(), width, height, pixels, error, sizeof error)) << error;

    Picture picture;
    ASSERT_TRUE(ReadPng(path, picture));
    unlink(path.c_str());
    EXPECT_EQ(picture.width, 2u);
    EXPECT_EQ(picture.height, 3u);
    EXPECT_EQ(picture.format & PNG_FORMAT_FLAG_ALPHA, 0u);
    EXPECT_NE(picture.format & PNG_FORMAT_FLAG_COLOR, 0u);
    const png_byte expectedRows[3][3] = {{0, 0, 255}, {0, 255, 0}, {255, 0, 0}};
    for (int row = 0; row < height; ++row) {
        for (int x = 0; x < width; ++x) {
            const png_byte* p = &picture.rgba[(static_cast<size_t>(row) * width + x) * 4];
            EXPECT_EQ(p[0], expectedRows[row][0]) << "row " << row;
            EXPECT_EQ(p[1], expectedRows[row][1]) << "row " << row;
            EXPECT_EQ(p[2], expectedRows[row][2]) << "row " << row;
            EXPECT_EQ(p[3], 255) << "row " << row;
        }
    }
}

#endif

TEST(WritePng, RefusesWhatItCannotWrite) {
    char error[256] = {};
    const std::vector<Rgba8> four(4, Rgba8{1, 2, 3, 255});
    EXPECT_FALSE(WritePng(TempPath("short.png").c_str(), 3, 2, four, error, sizeof error));
    EXPECT_NE(std::strstr(error, "3x2"), nullptr) << error;
    EXPECT_FALSE(WritePng(TempPath("empty.png").c_str(), 0, 0, {}, error, sizeof error));
    EXPECT_FALSE(WritePng("/nonexistent-folder/x.png", 2, 2, four, error, sizeof error));
    EXPECT_NE(std::strstr(error, "/nonexistent-folder/x.png"), nullptr) << error;
}

uint32_t Big32(const std::vector<unsigned char>& data, size_t at) {
    return static_cast<uint32_t>(data[at]) << 24 | static_cast<uint32_t>(data[at + 1]) << 16 |
           static_cast<uint32_t>(data[at + 2]) << 8 | data[at + 3];
}

// Every chunk's CRC checked, the zlib stream inflated whole (which checks
// its Adler-32) and its rows compared with the pixels: libpng may stop
// before the stream's end and never look at the checksum.
TEST(WritePng, PassesAStrictReading) {
    // Over 65535 bytes of rows, so that the stream takes more than one block.
    const int width = 200;
    const int height = 120;
    std::vector<Rgba8> pixels;
    for (int i = 0; i < width * height; ++i) {
        pixels.push_back(
            Rgba8{static_cast<uint8_t>(i * 7), static_cast<uint8_t>(i / width), static_cast<uint8_t>(i % 251), 255});
    }
    const std::string path = TempPath("strict.png");
    char error[256] = {};
    ASSERT_TRUE(WritePng(path.c_str(), width, height, pixels, error, sizeof error)) << error;
    std::ifstream in(path, std::ios::binary);
    const std::vector<unsigned char> file((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    unlink(path.c_str());

    ASSERT_GT(file.size(), 8u);
    std::vector<unsigned char> stream;
    std::string types;
    for (size_t at = 8; at + 12 <= file.size();) {
        const uint32_t length = Big32(file, at);
        ASSERT_LE(at + 12 + length, file.size());
        const unsigned char* typeAndData = &file[at + 4];
        const std::string type(typeAndData, typeAndData + 4);
        EXPECT_EQ(crc32(0, typeAndData, length + 4), Big32(file, at + 8 + length)) << type << " chunk CRC";
        if (type == "IDAT") stream.insert(stream.end(), typeAndData + 4, typeAndData + 4 + length);
        types += type + " ";
        at += 12 + length;
    }
    EXPECT_EQ(types.substr(0, 5), "IHDR ");
    EXPECT_EQ(types.substr(types.size() - 5), "IEND ");

    std::vector<unsigned char> rows(static_cast<size_t>(height) * (width * 3 + 1) + 1);
    uLongf rowBytes = rows.size();
    ASSERT_EQ(uncompress(rows.data(), &rowBytes, stream.data(), stream.size()), Z_OK) << "zlib stream, Adler-32";
    ASSERT_EQ(rowBytes, rows.size() - 1);
    // Filter type 0 keeps the bytes as they are; other filters would not
    // compare, and only the stored writer is known to use none.
    size_t at = 0;
    bool same = true;
    for (int y = height - 1; y >= 0 && same; --y) {
        const unsigned char filter = rows[at++];
        for (int x = 0; x < width; ++x, at += 3) {
            const Rgba8& p = pixels[static_cast<size_t>(y) * width + x];
            same = same && (filter != 0 || (rows[at] == p.r && rows[at + 1] == p.g && rows[at + 2] == p.b));
        }
    }
    EXPECT_TRUE(same) << "rows of the stream differ from the pixels, top row first";
}

#ifndef PONDSIM_PNG_STORED
TEST(OffscreenContext, RefusesSizesItCannotMakeAndWorksAfterwards) {
    OffscreenContext offscreen;
    EXPECT_FALSE(offscreen.Init(0, 10));
    EXPECT_NE(std::strstr(offscreen.error, "0x10"), nullptr) << offscreen.error;
    EXPECT_FALSE(offscreen.Init(1 << 20, 10));
    EXPECT_NE(std::strstr(offscreen.error, "exceeds"), nullptr) << offscreen.error;
    EXPECT_EQ(offscreen.width, 0);

    ASSERT_TRUE(offscreen.Init(3, 2)) << offscreen.error;
    glClearColor(1.0f, 0.0f, 0.0f, 1.0f);
    glClear(GL_COLOR_BUFFER_BIT);
    OffscreenContext::FinishFrame(&offscreen);
    std::vector<Rgba8> pixels;
    offscreen.ReadPixels(pixels);
    ASSERT_EQ(pixels.size(), 6u);
    for (const Rgba8& p : pixels) {
        EXPECT_EQ(p.r, 255);
        EXPECT_EQ(p.g, 0);
    }
}

#endif

}  // namespace
