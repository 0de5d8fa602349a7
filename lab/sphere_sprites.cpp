#include "lab/sphere_sprites.h"

#include <GL/glew.h>

#include <cmath>
#include <vector>

#ifndef __EMSCRIPTEN__
namespace {

constexpr int kSide = 64;

}  // namespace
#endif

void SphereSprites::Init() {
#ifdef __EMSCRIPTEN__
    available = false;
#else
    available = GLEW_VERSION_2_0 || GLEW_ARB_point_sprite;
    if (!available) return;
    // A unit sphere seen head on, lit from the upper left and in front:
    // diffuse plus a little ambient and a highlight; outside the disc, alpha 0.
    std::vector<unsigned char> pixels(static_cast<size_t>(kSide) * kSide * 4);
    const float light[3] = {-0.45f, 0.55f, 0.70f};
    for (int y = 0; y < kSide; ++y) {
        for (int x = 0; x < kSide; ++x) {
            const float u = (static_cast<float>(x) + 0.5f) / kSide * 2.0f - 1.0f;
            const float v = (static_cast<float>(y) + 0.5f) / kSide * 2.0f - 1.0f;
            const float r2 = u * u + v * v;
            unsigned char* p = &pixels[(static_cast<size_t>(y) * kSide + x) * 4];
            if (r2 > 1.0f) {
                p[0] = p[1] = p[2] = p[3] = 0;
                continue;
            }
            // Sprite rows run down the screen with y; the sphere's normal up.
            const float n[3] = {u, -v, std::sqrt(1.0f - r2)};
            const float diffuse = std::fmax(0.0f, n[0] * light[0] + n[1] * light[1] + n[2] * light[2]);
            const float highlight = std::pow(std::fmax(0.0f, n[2] * (light[2] + 1.0f) + n[0] * light[0] + n[1] * light[1]) / 2.0f, 24.0f);
            const float shade = std::fmin(1.0f, 0.25f + 0.85f * diffuse + 0.5f * highlight);
            p[0] = p[1] = p[2] = static_cast<unsigned char>(shade * 255.0f);
            p[3] = 255;
        }
    }
    glGenTextures(1, &texture);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MIN_FILTER, GL_LINEAR);
    glTexParameteri(GL_TEXTURE_2D, GL_TEXTURE_MAG_FILTER, GL_LINEAR);
    glTexImage2D(GL_TEXTURE_2D, 0, GL_RGBA, kSide, kSide, 0, GL_RGBA, GL_UNSIGNED_BYTE, pixels.data());
    glBindTexture(GL_TEXTURE_2D, 0);
#endif
}

void SphereSprites::Begin() const {
#ifndef __EMSCRIPTEN__
    glEnable(GL_TEXTURE_2D);
    glBindTexture(GL_TEXTURE_2D, texture);
    glTexEnvi(GL_TEXTURE_ENV, GL_TEXTURE_ENV_MODE, GL_MODULATE);
    glEnable(GL_POINT_SPRITE);
    glTexEnvi(GL_POINT_SPRITE, GL_COORD_REPLACE, GL_TRUE);
    glEnable(GL_ALPHA_TEST);
    glAlphaFunc(GL_GREATER, 0.5f);
#endif
}

void SphereSprites::End() const {
#ifndef __EMSCRIPTEN__
    glDisable(GL_ALPHA_TEST);
    glTexEnvi(GL_POINT_SPRITE, GL_COORD_REPLACE, GL_FALSE);
    glDisable(GL_POINT_SPRITE);
    glBindTexture(GL_TEXTURE_2D, 0);
    glDisable(GL_TEXTURE_2D);
#endif
}
