#include "demo/scene.h"

#include <GL/glew.h>

#include <climits>
#include <cstring>

#include "sim/demo/step_driver.h"

void Scene::Setup() {
    graphics.Init();
    farPlane = 5001.0f;
    nearPlane = 1.0f;
    glClearColor(0.0f, 0.0f, 0.0f, 1.0f);
    glClearStencil(0);
    glEnable(GL_DEPTH_TEST);
    glEnable(GL_CULL_FACE);
    glFrontFace(GL_CCW);
    glBlendFunc(GL_ONE, GL_ONE_MINUS_SRC_ALPHA);
    glEnable(GL_STENCIL_TEST);

    camera.position = Vec3{20.0f, 8.0f, 80.0f};
    camera.up = Vec3{0.0f, 1.0f, 0.0f};
    camera.back = Vec3{0.0f, 0.0f, 1.0f};

    // No size is known before the first size message; a square aspect keeps
    // the projection finite until then.
    float aspect = 1.0f;
    if (viewportWidth > 0 && viewportHeight > 0) {
        aspect = static_cast<float>(viewportWidth) / static_cast<float>(viewportHeight);
    }
    Project(aspect);

    requestedCount = 3000;
    ReseedToRequest();
}

void Scene::Project(float aspect) {
    constexpr float kFieldOfViewDegrees = 45.0f;
    Perspective(projection, kFieldOfViewDegrees, aspect, nearPlane, farPlane);
}

void Scene::Resize(int32_t width, int32_t height) {
    viewportWidth = width;
    viewportHeight = height;
    glViewport(0, 0, width, height);
    if (width == 0 || height == 0) return;
    Project(static_cast<float>(width) / static_cast<float>(height));
}

void Scene::Render() {
    glClear(GL_COLOR_BUFFER_BIT | GL_DEPTH_BUFFER_BIT | GL_STENCIL_BUFFER_BIT);
    camera.GetViewMatrix(view);
    Mat4 clip;
    view.Multiply(clip, projection);
    // The matrix mode is never changed: the whole world-to-clip transform
    // goes into the modelview matrix.
    glLoadMatrixf(clip.m);
    system.Draw();
    graphics.SwapBuffers();
}

void Scene::Step() {
    camera.Move(input);
    NoStageProbe probe;
    StepSolver(system, probe);
}

void Scene::SetInput(const char* name, bool state) {
    int slot = -1;
    for (int i = 0; i < 11; ++i) {
        if (std::strcmp(name, kInputNames[i]) == 0) {
            slot = i;
            break;
        }
    }
    if (slot < 0) return;
    input.flags[slot] = state ? 1 : 0;
    if (!state) return;

    if (slot == InputState::kMiddleButton) {
        requestedCount = requestedCount < 100 ? 0 : requestedCount - 100;
    } else if (slot == InputState::kRightButton) {
        requestedCount = requestedCount > INT32_MAX - 100 ? INT32_MAX : requestedCount + 100;
    } else {
        return;
    }
    ReseedToRequest();
}

void Scene::ReseedToRequest() {
    system.Reseed(requestedCount);
    // A refused allocation keeps the old particles; the request follows them
    // so that the next press starts from what is really there.
    requestedCount = system.particleCount;
}
