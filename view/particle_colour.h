#pragma once

#include <cstdint>

// A particle's colour, red, green and blue from 0 to 1.
struct PointColour {
    float r;
    float g;
    float b;
};

// The demo's colour for a particle with `count` neighbours: dark blue when
// alone, through cyan to white as the list fills. Shared by the demo's
// drawing and the lab's, so that the lab's neighbour view is the demo's.
inline PointColour NeighbourColour(int32_t count) {
    const float g = static_cast<float>(count) * 0.1f;
    return PointColour{0.0f, g, g + 0.3f};
}
