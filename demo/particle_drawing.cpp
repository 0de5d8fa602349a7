#include <GL/glew.h>

#include "sim/demo/particle_system.h"
#include "view/particle_colour.h"

void ParticleSystem::Draw() {
    glPointSize(10.0f);
    glBegin(GL_POINTS);
    for (int32_t i = 0; i < particleCount; ++i) {
        const Particle& p = particles[i];
        const PointColour c = NeighbourColour(p.neighbourCount);
        glColor3f(c.r, c.g, c.b);
        glVertex3f(p.position.x, p.position.y, p.position.z);
    }
    glEnd();
}
