#include "sim/demo/particle_system.h"

#include <GL/glew.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>

int (*scatterRandom)() = rand;

float Poly6Coefficient() {
    return 315.0f / (powf(0.03f, 9.0f) * 201.06194f);
}

float SpikyGradientCoefficient() {
    return -45.0f / (powf(0.03f, 6.0f) * 3.1415927f);
}

float ViscosityLaplacianCoefficient() {
    return 45.0f / (powf(0.03f, 6.0f) * 3.1415927f);
}

void KernelCoefficientFields<true>::ComputeKernelCoefficients() {
    poly6Coef = Poly6Coefficient();
    poly6GradCoef = 945.0f / (powf(0.03f, 9.0f) * 100.53097f);
    poly6LapCoef = poly6GradCoef;
    spikyGradCoef = SpikyGradientCoefficient();
    viscLapCoef = ViscosityLaplacianCoefficient();
}

ParticleSystem::ParticleSystem() {
    particleCount = 500;
    ready = false;
    ComputeKernelCoefficients();
    boxMax = Vec3{36.0f, 36.0f, 36.0f};
    boxMin = Vec3{0.0f, 0.0f, 0.0f};
    particles = nullptr;
    gridSize.x = static_cast<int32_t>((boxMax.x - boxMin.x) / 6.0f);
    gridSize.y = static_cast<int32_t>((boxMax.y - boxMin.y) / 6.0f);
    gridSize.z = static_cast<int32_t>((boxMax.z - boxMin.z) / 6.0f);
    Reseed(500);
    ready = true;
}

void ParticleSystem::Reseed(int32_t count) {
    if constexpr (SolverVariant::pointSmoothing) {
        // Harmless before a context exists: the call then goes nowhere.
        glEnable(GL_POINT_SMOOTH);
    }
    printf("Allocating %d particles\n", count);

    // The new array is obtained before the old one is let go, so that a
    // refused allocation leaves the fluid as it was instead of half torn down.
    Particle* fresh = count < 0 ? nullptr : new (std::nothrow) Particle[static_cast<size_t>(count)];
    if (fresh == nullptr) {
        printf("Unable to allocate %d particles\n", count);
        return;
    }
    delete[] particles;
    particles = fresh;
    particleCount = count;

    for (int32_t i = 0; i < count; ++i) {
        Particle& p = particles[i];
        p = Particle{};
        float* axes[3] = {&p.position.x, &p.position.y, &p.position.z};
        const float maxima[3] = {boxMax.x, boxMax.y, boxMax.z};
        const float minima[3] = {boxMin.x, boxMin.y, boxMin.z};
        for (int a = 0; a < 3; ++a) {
            const int r = scatterRandom();
            const float t = static_cast<float>(r % 0x7fff) / 32766.0f;
            *axes[a] = t * maxima[a] + minima[a];
        }
    }

    BinParticles();
    FindNeighbours();
}
