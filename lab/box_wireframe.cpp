#include "lab/box_wireframe.h"

#include <GL/glew.h>

void DrawBoxWireframe(const LabParameters& p) {
    const float x[2] = {p.boxMin.x, p.boxMax.x}, y[2] = {p.boxMin.y, p.boxMax.y}, z[2] = {p.boxMin.z, p.boxMax.z};
    glLineWidth(1.0f);
    glColor3f(0.35f, 0.35f, 0.4f);
    glBegin(GL_LINES);
    for (int a = 0; a < 2; ++a) {
        for (int b = 0; b < 2; ++b) {
            glVertex3f(x[0], y[a], z[b]);
            glVertex3f(x[1], y[a], z[b]);
            glVertex3f(x[a], y[0], z[b]);
            glVertex3f(x[a], y[1], z[b]);
            glVertex3f(x[a], y[b], z[0]);
            glVertex3f(x[a], y[b], z[1]);
        }
    }
    glEnd();
}
