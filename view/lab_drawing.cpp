#include "view/lab_drawing.h"

#include <GL/glew.h>

#include <cmath>

#include "sim/lab/lab_solver.h"
#include "sim/lab/lab_stepper.h"

namespace {

constexpr float kFieldOfViewDegrees = 45.0f;

}  // namespace

const std::vector<LabColourFieldInfo>& LabColourFields() {
    static const std::vector<LabColourFieldInfo> fields = {
        {LabColourField::Neighbours, "neighbours", ""},
        {LabColourField::Density, "density", "kg/m^3"},
        {LabColourField::Pressure, "pressure", "Pa"},
        {LabColourField::Speed, "speed", "m/s"},
    };
    return fields;
}

bool LabColourFieldByName(const std::string& name, LabColourField& out) {
    for (const LabColourFieldInfo& f : LabColourFields()) {
        if (name == f.name) {
            out = f.field;
            return true;
        }
    }
    return false;
}

const char* LabColourFieldName(LabColourField field) {
    for (const LabColourFieldInfo& f : LabColourFields()) {
        if (f.field == field) return f.name;
    }
    return "";
}

LabColourField NextLabColourField(LabColourField field) {
    const std::vector<LabColourFieldInfo>& fields = LabColourFields();
    for (size_t f = 0; f < fields.size(); ++f) {
        if (fields[f].field == field) return fields[(f + 1) % fields.size()].field;
    }
    return fields[0].field;
}

const char* LabColourFieldUnit(LabColourField field) {
    for (const LabColourFieldInfo& f : LabColourFields()) {
        if (f.field == field) return f.unit;
    }
    return "";
}

float LabFieldValue(const LabSolver& solver, LabColourField field, int32_t i) {
    switch (field) {
        case LabColourField::Neighbours: return static_cast<float>(solver.neighbourCount(i));
        case LabColourField::Density: return solver.density(i);
        case LabColourField::Pressure: return solver.pressure(i);
        case LabColourField::Speed: {
            const Vec3 v = solver.velocity(i);
            return std::sqrt(v.x * v.x + v.y * v.y + v.z * v.z);
        }
    }
    return 0.0f;
}

void CaptureLabFrame(const LabSolver& solver, int field, LabFrame& frame) {
    const int32_t n = solver.count();
    frame.positions.resize(static_cast<size_t>(n));
    frame.values.resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) {
        frame.positions[static_cast<size_t>(i)] = solver.position(i);
        frame.values[static_cast<size_t>(i)] = LabFieldValue(solver, static_cast<LabColourField>(field), i);
    }
}

PointColour ColourMapAt(float value, float low, float high) {
    // Five stops, evenly spaced: blue, cyan, green, yellow, red.
    static const PointColour kStops[5] = {
        {0.0f, 0.0f, 0.6f}, {0.0f, 0.8f, 1.0f}, {0.0f, 0.8f, 0.2f}, {1.0f, 0.9f, 0.0f}, {0.9f, 0.0f, 0.0f},
    };
    float t = high > low ? (value - low) / (high - low) : 0.0f;
    if (!(t > 0.0f)) t = 0.0f;  // also a NaN value
    if (t > 1.0f) t = 1.0f;
    const float scaled = t * 4.0f;
    int stop = static_cast<int>(scaled);
    if (stop > 3) stop = 3;
    const float f = scaled - static_cast<float>(stop);
    const PointColour& a = kStops[stop];
    const PointColour& b = kStops[stop + 1];
    return PointColour{a.r + (b.r - a.r) * f, a.g + (b.g - a.g) * f, a.b + (b.b - a.b) * f};
}

void LabDrawing::Frame(const LabParameters& parameters, float aspect) {
    camera.up = Vec3{0.0f, 1.0f, 0.0f};
    camera.back = Vec3{0.0f, 0.0f, 1.0f};
    const Vec3& lo = parameters.boxMin;
    const Vec3& hi = parameters.boxMax;
    if (lo.x == 0.0f && lo.y == 0.0f && lo.z == 0.0f && hi.x == 36.0f && hi.y == 36.0f && hi.z == 36.0f) {
        // The demo's box: the demo's view of it.
        camera.position = Vec3{20.0f, 8.0f, 80.0f};
        nearPlane = 1.0f;
        farPlane = 5001.0f;
    } else {
        const Vec3 centre{(lo.x + hi.x) * 0.5f, (lo.y + hi.y) * 0.5f, (lo.z + hi.z) * 0.5f};
        const float dx = hi.x - lo.x;
        const float dy = hi.y - lo.y;
        const float dz = hi.z - lo.z;
        const float radius = 0.5f * std::sqrt(dx * dx + dy * dy + dz * dz);
        // The box's bounding sphere fits the narrower of the two angles.
        const double halfAngle = kFieldOfViewDegrees * 0.5 * 3.14159265358979 / 180.0;
        double fit = std::tan(halfAngle);
        if (aspect > 0.0f && aspect < 1.0f) fit *= aspect;
        const float distance = static_cast<float>(radius / std::sin(std::atan(fit)));
        camera.position = Vec3{centre.x, centre.y, centre.z + distance};
        nearPlane = distance * 0.01f;
        farPlane = distance + radius * 4.0f;
    }
    Project(aspect);
}

void LabDrawing::Project(float aspect) {
    Perspective(projection, kFieldOfViewDegrees, aspect > 0.0f ? aspect : 1.0f, nearPlane, farPlane);
}

void LabDrawing::FitPointSize(const LabParameters& parameters, float viewportHeight) {
    const Vec3& lo = parameters.boxMin;
    const Vec3& hi = parameters.boxMax;
    if (lo.x == 0.0f && lo.y == 0.0f && lo.z == 0.0f && hi.x == 36.0f && hi.y == 36.0f && hi.z == 36.0f) {
        pointSize = 10.0f;
        return;
    }
    // The spacing seen at the box's centre, in pixels.
    const float centreZ = (lo.z + hi.z) * 0.5f;
    const float distance = camera.position.z - centreZ;
    const double halfAngle = kFieldOfViewDegrees * 0.5 * 3.14159265358979 / 180.0;
    const float spacing = parameters.particleSpacing / parameters.simScale;
    const float pixels =
        distance > 0.0f ? spacing / (2.0f * distance * static_cast<float>(std::tan(halfAngle))) * viewportHeight : 1.0f;
    pointSize = pixels < 1.0f ? 1.0f : pixels;
}

int32_t LabDrawing::DrawnCount(const LabFrame& frame) const {
    return drawFixed ? static_cast<int32_t>(frame.positions.size()) : frame.moving;
}

void LabDrawing::UpdateRange(const LabSolver& solver) {
    if (!automaticRange || field == LabColourField::Neighbours) return;
    LabFrame frame;
    frame.moving = solver.movingCount();
    frame.field = static_cast<int>(field);
    CaptureLabFrame(solver, frame.field, frame);
    UpdateRange(frame);
}

void LabDrawing::UpdateRange(const LabFrame& frame) {
    if (!automaticRange || field == LabColourField::Neighbours || frame.field != static_cast<int>(field)) return;
    const int32_t n = DrawnCount(frame);
    if (n == 0) return;
    float lowest = frame.values[0];
    float highest = lowest;
    for (int32_t i = 1; i < n; ++i) {
        const float v = frame.values[static_cast<size_t>(i)];
        if (v < lowest) lowest = v;
        if (v > highest) highest = v;
    }
    if (field == LabColourField::Speed) lowest = 0.0f;
    if (!(highest > lowest)) highest = lowest + 1.0f;
    low = lowest;
    high = highest;
}

PointColour LabDrawing::ColourOf(LabColourField shown, float value) const {
    if (shown == LabColourField::Neighbours) return NeighbourColour(static_cast<int32_t>(value));
    return ColourMapAt(value, low, high);
}

PointColour LabDrawing::BarColour(float t) const {
    if (field == LabColourField::Neighbours) return NeighbourColour(static_cast<int32_t>(t * 32.0f));
    return ColourMapAt(low + t * (high - low), low, high);
}

namespace {

float LongestSide(const LabParameters& p) {
    return std::fmax(p.boxMax.x - p.boxMin.x, std::fmax(p.boxMax.y - p.boxMin.y, p.boxMax.z - p.boxMin.z));
}

}  // namespace

void LabDrawing::Fly(const LabParameters& p, const InputState& input, double seconds) {
    // The demo's 1.5 units a 64 ms tick across its 36-unit box.
    constexpr double kBoxesPerSecond = Camera::kDemoStep / 36.0 / 0.064;
    camera.Move(input, static_cast<float>(LongestSide(p) * kBoxesPerSecond * seconds));
}

void LabDrawing::Zoom(const LabParameters& p, float notches) {
    // A notch moves a ninth of the box's longest side (4 units in the
    // demo's box), whatever units the scene is in.
    const float side = LongestSide(p);
    const float step = notches * side / 9.0f;
    camera.position.x = camera.position.x - camera.back.x * step;
    camera.position.y = camera.position.y - camera.back.y * step;
    camera.position.z = camera.position.z - camera.back.z * step;
}

void LabDrawing::PushKicks(const LabSolver& solver, int left, int width, int height, int x, int y, int dx, int dy,
                           std::vector<int32_t>& indices, std::vector<Vec3>& kicks) const {
    LabFrame frame;
    frame.parameters = solver.parameters();
    frame.moving = solver.movingCount();
    CaptureLabPositions(solver, 0, frame);
    PushKicks(frame, left, width, height, x, y, dx, dy, indices, kicks);
}

void LabDrawing::PushKicks(const LabFrame& frame, int left, int width, int height, int x, int y, int dx, int dy,
                           std::vector<int32_t>& indices, std::vector<Vec3>& kicks) const {
    if (width <= 0 || height <= 0 || (dx == 0 && dy == 0)) return;
    Mat4 viewMatrix, clip;
    camera.GetViewMatrix(viewMatrix);
    viewMatrix.Multiply(clip, projection);
    Vec3 side = Cross(camera.up, camera.back);
    Normalise(side);
    const Vec3 up = camera.up;
    const float scale = frame.parameters.simScale / kPushSeconds;
    const float halfHeight = static_cast<float>(std::tan(kFieldOfViewDegrees * 0.5 * 3.14159265358979 / 180.0));
    const float* m = clip.m;
    for (int32_t i = 0; i < frame.moving; ++i) {
        const Vec3 p = frame.positions[static_cast<size_t>(i)];
        const float w = m[3] * p.x + m[7] * p.y + m[11] * p.z + m[15];
        if (w <= 0.0f) continue;
        const float cx = (m[0] * p.x + m[4] * p.y + m[8] * p.z + m[12]) / w;
        const float cy = (m[1] * p.x + m[5] * p.y + m[9] * p.z + m[13]) / w;
        const float px = static_cast<float>(left) + (cx * 0.5f + 0.5f) * static_cast<float>(width);
        const float py = (0.5f - cy * 0.5f) * static_cast<float>(height);
        const float ex = px - static_cast<float>(x), ey = py - static_cast<float>(y);
        const float d2 = ex * ex + ey * ey;
        if (d2 >= kPushRadius * kPushRadius) continue;
        const float weight = 1.0f - std::sqrt(d2) / kPushRadius;
        const float unitsPerPixel = 2.0f * w * halfHeight / static_cast<float>(height);
        const float k = unitsPerPixel * scale * weight;
        // Window rows run down, the camera's up runs up.
        const float fx = static_cast<float>(dx) * k, fy = static_cast<float>(-dy) * k;
        indices.push_back(i);
        kicks.push_back(Vec3{side.x * fx + up.x * fy, side.y * fx + up.y * fy, side.z * fx + up.z * fy});
    }
}

void LabDrawing::Draw(const LabSolver& solver) const {
    LabFrame frame;
    frame.moving = solver.movingCount();
    frame.field = static_cast<int>(field);
    CaptureLabFrame(solver, frame.field, frame);
    Draw(frame);
}

void LabDrawing::Draw(const LabFrame& frame) const {
    Mat4 view;
    camera.GetViewMatrix(view);
    Mat4 clip;
    view.Multiply(clip, projection);
    glLoadMatrixf(clip.m);
    glPointSize(pointSize);
    const auto shown = static_cast<LabColourField>(frame.field);
    const int32_t n = DrawnCount(frame);
    colours_.resize(static_cast<size_t>(n));
    for (int32_t i = 0; i < n; ++i) colours_[static_cast<size_t>(i)] = ColourOf(shown, frame.values[static_cast<size_t>(i)]);
    // Arrays in one call: a hundred thousand points are too many to give
    // one by one at display rate.
    static_assert(sizeof(Vec3) == 3 * sizeof(float) && sizeof(PointColour) == 3 * sizeof(float));
    glEnableClientState(GL_VERTEX_ARRAY);
    glEnableClientState(GL_COLOR_ARRAY);
    glVertexPointer(3, GL_FLOAT, 0, frame.positions.data());
    glColorPointer(3, GL_FLOAT, 0, colours_.data());
    glDrawArrays(GL_POINTS, 0, n);
    glDisableClientState(GL_COLOR_ARRAY);
    glDisableClientState(GL_VERTEX_ARRAY);
}
