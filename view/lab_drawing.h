#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "sim/lab/lab_parameters.h"
#include "view/camera.h"
#include "view/math.h"
#include "view/particle_colour.h"

class LabSolver;
struct LabFrame;

// What the lab's particles are coloured by.
enum class LabColourField { Neighbours, Density, Pressure, Speed };

// A colour field as the options, the panel and the help name it.
struct LabColourFieldInfo {
    LabColourField field;
    const char* name;
    const char* unit;
};
// Every field, in LabColourField's order; the first is the default.
const std::vector<LabColourFieldInfo>& LabColourFields();
bool LabColourFieldByName(const std::string& name, LabColourField& out);
const char* LabColourFieldName(LabColourField field);
// The field after this one, as the C key steps through them, round to the
// first after the last.
LabColourField NextLabColourField(LabColourField field);
// The field's unit as a colour bar labels it ("" for neighbour counts).
const char* LabColourFieldUnit(LabColourField field);

// The field's value at particle i: neighbour count, kilograms per cubic
// metre, pascals, metres per second.
float LabFieldValue(const LabSolver& solver, LabColourField field, int32_t i);

// A frame's positions and the field's values, as a stepper's capture
// (field: a LabColourField).
void CaptureLabFrame(const LabSolver& solver, int field, LabFrame& frame);

// The colour of a value on a map over [low, high]: dark blue at low through
// cyan, green and yellow to red at high; values outside take the end colour.
// A panel draws its colour bar with it.
PointColour ColourMapAt(float value, float low, float high);

// How a window or a headless run draws a LabSolver's particles: GL points in
// OpenGL 1.x immediate mode, like the demo's, seen through the demo's camera
// and perspective.
struct LabDrawing {
    LabColourField field = LabColourField::Neighbours;
    // Range of the colour map (not used for neighbour counts, which take the
    // demo's ramp). With automaticRange, UpdateRange sets it from the
    // current values.
    bool automaticRange = true;
    float low = 0.0f;
    float high = 1.0f;
    float pointSize = 10.0f;
    // Fixed wall particles drawn too; off, only the fluid shows (the walls
    // would hide it) and only its values set the automatic range.
    bool drawFixed = false;
    Camera camera;
    float nearPlane = 1.0f;
    float farPlane = 5001.0f;
    Mat4 projection;

    // Places the camera in front of the parameters' box (from +z, looking
    // along -z) far enough to see all of it, and sets the projection for the
    // aspect. The demo's box gets the demo's camera and planes.
    void Frame(const LabParameters& parameters, float aspect);
    // A projection for a new aspect, keeping the camera.
    void Project(float aspect);
    // Points about as wide as the parameters' lattice spacing looks from
    // the camera in a viewport of the given height (the demo's 10 pixels in
    // the demo's box), at least one pixel.
    void FitPointSize(const LabParameters& parameters, float viewportHeight);
    // The particles drawn: all, or the moving ones.
    int32_t DrawnCount(const LabFrame& frame) const;
    // With automaticRange: low and high from the smallest and largest value
    // of the field over all particles (speed from 0). A range of a single
    // value is widened so that the map stays defined.
    void UpdateRange(const LabSolver& solver);
    // The same from a frame's values, when they are of this field.
    void UpdateRange(const LabFrame& frame);
    // The colour of a value of the field shown.
    PointColour ColourOf(LabColourField shown, float value) const;
    // The colour bar's colour at t, from its left end (0, low or no
    // neighbours) to its right (1, high or a full list of 32).
    PointColour BarColour(float t) const;
    // Moves the camera along its view by wheel notches: forward (positive)
    // nearer, each a ninth of the box's longest side.
    void Zoom(const LabParameters& parameters, float notches);
    // The held arrow keys (and Enter, Shift) over `seconds`: the demo's
    // speed in the demo's box, in proportion to any other box.
    void Fly(const LabParameters& parameters, const InputState& input, double seconds);
    // A drag of (dx, dy) pixels at the window point (x, y), y down, over the
    // particles drawn into the viewport `left` pixels from the window's left
    // edge, width x height: a velocity kick (metres per second) for each
    // moving particle drawn near the point, fading to nothing at a distance
    // of kPushRadius pixels, that carries it along the drag as far as the
    // drag went on the screen at its depth, over kPushSeconds.
    static constexpr float kPushRadius = 60.0f;
    static constexpr float kPushSeconds = 0.25f;
    void PushKicks(const LabSolver& solver, int left, int width, int height, int x, int y, int dx, int dy,
                   std::vector<int32_t>& indices, std::vector<Vec3>& kicks) const;
    void PushKicks(const LabFrame& frame, int left, int width, int height, int x, int y, int dx, int dy,
                   std::vector<int32_t>& indices, std::vector<Vec3>& kicks) const;
    // Loads projection times view into the modelview matrix, as the demo's
    // scene does, and draws every particle. Clears nothing and swaps nothing:
    // the caller owns the frame.
    void Draw(const LabSolver& solver) const;
    // A frame's particles, coloured by the field its values are of.
    void Draw(const LabFrame& frame) const;

private:
    // The colours of the last frame drawn, kept for their storage.
    mutable std::vector<PointColour> colours_;
};
