"""Reads a headless run's VTK export back with VTK's own reader and compares
the last file, value by value and bit for bit, with the state file the same
run saved; checks that the .pvd lists every file with its simulated time.
With --walls, checks a lab run's last file instead: its particles from
MOVING on, and only those, marked as walls.

    vtk_readback.py EXPORT_DIR STATE_FILE
    vtk_readback.py --walls MOVING EXPORT_DIR
"""
import os
import struct
import sys
import xml.etree.ElementTree as ElementTree

from vtkmodules.vtkIOXML import vtkXMLPolyDataReader

HEADER = struct.Struct("<8sII16sIiq9fI")  # as headless/outputs/state_file.h lays it out


def fail(message):
    sys.exit("FAIL: " + message)


def last_file(folder):
    reader = vtkXMLPolyDataReader()
    reader.SetFileName(os.path.join(folder, sorted(f for f in os.listdir(folder) if f.endswith(".vtp"))[-1]))
    reader.Update()
    return reader.GetOutput()


def walls(poly):
    """The particles the file marks as walls, by index."""
    array = poly.GetPointData().GetArray("wall")
    if array is None or array.GetNumberOfComponents() != 1:
        fail("no wall array of 1 component")
    return [i for i in range(poly.GetNumberOfPoints()) if array.GetValue(i) != 0]


def check_walls(moving, folder):
    poly = last_file(folder)
    marked, count = walls(poly), poly.GetNumberOfPoints()
    if marked != list(range(moving, count)):
        fail("%d of %d particles marked as walls, from %s on; the run has %d moving"
             % (len(marked), count, marked[:1], moving))
    print("ok: %d of %d particles marked as walls" % (len(marked), count))


def main(folder, state_path):
    data = open(state_path, "rb").read()
    (_, _, size, variant, slots, count, step, *_) = HEADER.unpack_from(data)
    words = [struct.unpack_from("<%dI" % (size // 4), data, HEADER.size + i * size) for i in range(count)]
    # The record's words: position 0-2, velocity 3-5, acceleration 6-8,
    # pressure 9, density 10, neighbourCount 12.
    expected = {
        "position": (0, 3), "velocity": (3, 3), "acceleration": (6, 3),
        "pressure": (9, 1), "density": (10, 1), "neighbourCount": (12, 1),
    }

    reader = vtkXMLPolyDataReader()
    reader.SetFileName(os.path.join(folder, "particles-%06d.vtp" % step))
    reader.Update()
    poly = reader.GetOutput()
    if poly.GetNumberOfPoints() != count or poly.GetNumberOfVerts() != count:
        fail("%d points, %d vertices; the state holds %d particles"
             % (poly.GetNumberOfPoints(), poly.GetNumberOfVerts(), count))
    # One vertex cell per point, cell i holding point i: offsets 0..count.
    verts = poly.GetVerts()
    offsets, connectivity = verts.GetOffsetsArray(), verts.GetConnectivityArray()
    if offsets.GetNumberOfValues() != count + 1 or connectivity.GetNumberOfValues() != count:
        fail("%d vertex offsets, %d connectivity entries for %d particles"
             % (offsets.GetNumberOfValues(), connectivity.GetNumberOfValues(), count))
    for i in range(count + 1):
        if offsets.GetValue(i) != i or (i < count and connectivity.GetValue(i) != i):
            fail("vertex cell %d: offset %d, not %d, or another point" % (i, offsets.GetValue(i), i))
    if walls(poly):
        fail("the demo has no walls, yet %d particles are marked as walls" % len(walls(poly)))
    for name, (first, width) in expected.items():
        array = poly.GetPoints().GetData() if name == "position" else poly.GetPointData().GetArray(name)
        if array is None or array.GetNumberOfComponents() != width:
            fail("no %s array of %d components" % (name, width))
        pack = "<i" if name == "neighbourCount" else "<f"
        for i in range(count):
            for c in range(width):
                value = array.GetComponent(i, c)
                got = struct.unpack("<I", struct.pack(pack, int(value) if pack == "<i" else value))[0]
                if got != words[i][first + c]:
                    fail("%s of particle %d, component %d: %08x in the file, %08x in the state"
                         % (name, i, c, got, words[i][first + c]))

    listed = ElementTree.parse(os.path.join(folder, "particles.pvd")).getroot().iter("DataSet")
    written = sorted(f for f in os.listdir(folder) if f.endswith(".vtp"))
    seen = []
    for entry in listed:
        name = entry.get("file")
        if abs(float(entry.get("timestep")) - int(name[10:16]) * 0.004) > 1e-9:
            fail("%s listed at time %s" % (name, entry.get("timestep")))
        seen.append(name)
    if seen != written:
        fail("particles.pvd lists %s; the folder holds %s" % (seen, written))
    print("ok: %s, %d particles at step %d, %d files listed"
          % (variant.rstrip(b"\0").decode(), count, step, len(seen)))


if sys.argv[1] == "--walls":
    check_walls(int(sys.argv[2]), sys.argv[3])
else:
    main(*sys.argv[1:])
