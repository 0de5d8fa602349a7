#include <GL/glew.h>

#include "sim/particle_system.h"

void ParticleSystem::Draw() {
    glPointSize(10.0f);
    glBegin(GL_POINTS);
    for (int32_t i = 0; i < particleCount; ++i) {
        const Particle& p = particles[i];
        const float g = static_cast<float>(p.neighbourCount) * 0.1f;
        glColor3f(0.0f, g, g + 0.3f);
        glVertex3f(p.position.x, p.position.y, p.position.z);
    }
    glEnd();
}
