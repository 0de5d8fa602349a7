#include <cinttypes>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "outputs/output.h"

namespace {

// Each array goes into the appended block as its byte count (UInt64) and its
// values as stored in memory, so that a reader gets every bit back; the XML
// part names it with its offset in the block.
template <class T, int Components, class Field>
void AddArray(std::string& xml, std::vector<char>& block, const char* type, const char* name,
              int32_t count, Field field) {
    char tag[200];
    snprintf(tag, sizeof tag,
             "        <DataArray type=\"%s\" Name=\"%s\" NumberOfComponents=\"%d\" format=\"appended\" "
             "offset=\"%zu\"/>\n",
             type, name, Components, block.size());
    xml += tag;
    const uint64_t bytes = static_cast<uint64_t>(count) * Components * sizeof(T);
    const size_t at = block.size();
    block.resize(at + sizeof bytes + bytes);
    char* out = block.data() + at;
    std::memcpy(out, &bytes, sizeof bytes);
    out += sizeof bytes;
    for (int32_t i = 0; i < count; ++i) {
        T values[Components];
        field(i, values);
        std::memcpy(out, values, sizeof values);
        out += sizeof values;
    }
}

void CopyVec3(const Vec3& v, float* out) {
    out[0] = v.x;
    out[1] = v.y;
    out[2] = v.z;
}

// The whole file under its partial name, then renamed into place.
bool WriteWhole(const std::string& path, const std::string& text, const std::vector<char>& block) {
    FILE* file = fopen(PartialName(path).c_str(), "wb");
    bool ok = file != nullptr;
    if (ok) {
        ok = fwrite(text.data(), 1, text.size(), file) == text.size();
        if (ok && !block.empty()) {
            ok = fputs("  <AppendedData encoding=\"raw\">\n   _", file) >= 0 &&
                 fwrite(block.data(), 1, block.size(), file) == block.size() &&
                 fputs("\n  </AppendedData>\n</VTKFile>\n", file) >= 0;
        }
        ok = fclose(file) == 0 && ok;
    }
    return PlaceFile(path, ok);
}

}  // namespace

bool VtkExport::Start(RunSubject&) { return MakeOutputFolder(folder, "--export"); }

bool VtkExport::Write(RunSubject& subject, long step) {
    const int32_t count = subject.ParticleCount();
    block.clear();
    char piece[256];
    snprintf(piece, sizeof piece,
             "<?xml version=\"1.0\"?>\n"
             "<VTKFile type=\"PolyData\" version=\"1.0\" byte_order=\"LittleEndian\" header_type=\"UInt64\">\n"
             "  <PolyData>\n"
             "    <Piece NumberOfPoints=\"%d\" NumberOfVerts=\"%d\" NumberOfLines=\"0\" NumberOfStrips=\"0\" "
             "NumberOfPolys=\"0\">\n",
             count, count);
    std::string xml = piece;
    const RunSubject& p = subject;
    xml += "      <PointData Scalars=\"density\" Vectors=\"velocity\">\n";
    AddArray<float, 3>(xml, block, "Float32", "velocity", count, [&p](int32_t i, float* v) { CopyVec3(p.Velocity(i), v); });
    AddArray<float, 3>(xml, block, "Float32", "acceleration", count,
                       [&p](int32_t i, float* v) { CopyVec3(p.Acceleration(i), v); });
    AddArray<float, 1>(xml, block, "Float32", "density", count, [&p](int32_t i, float* v) { v[0] = p.Density(i); });
    AddArray<float, 1>(xml, block, "Float32", "pressure", count, [&p](int32_t i, float* v) { v[0] = p.Pressure(i); });
    AddArray<int32_t, 1>(xml, block, "Int32", "neighbourCount", count,
                         [&p](int32_t i, int32_t* v) { v[0] = p.NeighbourCount(i); });
    // 1 for a wall particle, so that a filter (Threshold) can show the fluid alone.
    AddArray<uint8_t, 1>(xml, block, "UInt8", "wall", count, [&p](int32_t i, uint8_t* v) { v[0] = p.Wall(i) ? 1 : 0; });
    xml += "      </PointData>\n      <Points>\n";
    AddArray<float, 3>(xml, block, "Float32", "position", count, [&p](int32_t i, float* v) { CopyVec3(p.Position(i), v); });
    // One vertex cell per particle, so that ParaView shows the points as they are.
    xml += "      </Points>\n      <Verts>\n";
    AddArray<int32_t, 1>(xml, block, "Int32", "connectivity", count, [](int32_t i, int32_t* v) { v[0] = i; });
    AddArray<int32_t, 1>(xml, block, "Int32", "offsets", count, [](int32_t i, int32_t* v) { v[0] = i + 1; });
    xml += "      </Verts>\n    </Piece>\n  </PolyData>\n";

    char name[40];
    snprintf(name, sizeof name, "particles-%06ld.vtp", step);
    if (!WriteWhole(folder + "/" + name, xml, block)) {
        fprintf(stderr, "--export: cannot write %s/%s\n", folder.c_str(), name);
        return false;
    }
    ++files;
    char line[128];
    snprintf(line, sizeof line, "    <DataSet timestep=\"%.10g\" part=\"0\" file=\"%s\"/>\n",
             subject.SimulatedTime(step), name);
    collection += line;
    // After every file while the listing is short; in a long export only
    // once it has grown by a sixteenth, so that rewriting it costs a fixed
    // share of the run rather than a share that grows with every file.
    return (files <= 1024 || files - listed >= files / 16) ? WriteListing() : true;
}

bool VtkExport::WriteListing() {
    const std::string listing = "<?xml version=\"1.0\"?>\n"
                                "<VTKFile type=\"Collection\" version=\"1.0\" byte_order=\"LittleEndian\">\n"
                                "  <Collection>\n" +
                                collection + "  </Collection>\n</VTKFile>\n";
    if (!WriteWhole(folder + "/particles.pvd", listing, {})) {
        fprintf(stderr, "--export: cannot write %s/particles.pvd\n", folder.c_str());
        return false;
    }
    listed = files;
    return true;
}

bool VtkExport::Finish(RunSubject&, long) {
    if (listed != files && !WriteListing()) return false;
    printf("export: %ld files in %s, listed in particles.pvd\n", files, folder.c_str());
    return true;
}
