// The solver's state after some ticks from a layout drawn with our own
// generator, the same on every runtime: the native build prints it and the
// web build exports it, and the browser test compares the two, so a page
// is shown to compute the same fluid to the bit.

#include <cinttypes>
#include <cstdio>
#include <cstdlib>

#include "sim/demo/step_driver.h"
#include "sim/core/random_sources.h"
#include "sim/demo/state_hash.h"

#ifdef __EMSCRIPTEN__
#include <emscripten.h>
#endif

namespace {

// Too large for the stack: static, as the scene keeps it.
ParticleSystem fluid;
char hashText[17];

const char* LayoutHash(int32_t particles, int32_t ticks) {
    scatterRandom = PortableRand;
    ResetPortableRand();
    fluid.Reseed(particles);
    NoStageProbe probe;
    for (int32_t tick = 0; tick < ticks; ++tick) StepSolver(fluid, probe);
    snprintf(hashText, sizeof hashText, "%016" PRIx64, HashParticleState(fluid));
    return hashText;
}

}  // namespace

#ifdef __EMSCRIPTEN__
extern "C" EMSCRIPTEN_KEEPALIVE const char* pondsim_layout_hash(int particles, int ticks) {
    return LayoutHash(particles, ticks);
}
#else
int main(int argc, char** argv) {
    if (argc != 3) {
        fprintf(stderr, "usage: %s PARTICLES TICKS\n", argv[0]);
        return 2;
    }
    printf("%s\n", LayoutHash(atoi(argv[1]), atoi(argv[2])));
    return 0;
}
#endif
