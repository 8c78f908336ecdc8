#include "bench/BenchModels.h"

#include <cmath>
#include <cstdio>
#include <random>
#include <string>
#include <vector>

const char* const kLimitImageName = "limit.png";
const char* const kSceneImageName = "paint.png";

namespace {

const uint32_t kSeed = 20240607;
// Skipped by the reader; written so the files look like a modeller's.
const uint16_t M3D_VERSION = 0x0002;

Chunk3ds material(const char* name, uint8_t r, uint8_t g, uint8_t b, uint16_t shading, const char* image) {
    Chunk3ds entry = ::material(name, -1,
                                {colour(MAT_AMBIENT, r / 4, g / 4, b / 4), colour(MAT_DIFFUSE, r, g, b),
                                 colour(MAT_SPECULAR, 60, 60, 60), percentage(MAT_SHININESS, 30),
                                 percentage(MAT_SHIN2PCT, 50), percentage(MAT_TRANSPARENCY, 0),
                                 Chunk3ds(MAT_SHADING).u16(shading)});
    if (image) entry.add(mapChunk(MAT_TEXMAP, image));
    return entry;
}

Chunk3ds benchNode(uint16_t id, const std::string& name, uint16_t parent, const char* instance,
                   const float position[3], float angle) {
    Chunk3ds tag = objectNode(id, name, parent);
    if (instance) tag.add(Chunk3ds(INSTANCE_NAME).name(instance));
    return tag.add({Chunk3ds(PIVOT).floats({0, 0, 0}), track(POS_TRACK_TAG, {{position[0], position[1], position[2]}}),
                    track(ROT_TRACK_TAG, {{angle, 0, 0, 1}}), track(SCL_TRACK_TAG, {{1, 1, 1}})});
}

Chunk3ds frameAt(const float origin[3]) {
    return meshMatrix({1, 0, 0, 0, 1, 0, 0, 0, 1, origin[0], origin[1], origin[2]});
}

Bytes model(const Chunk3ds& mdata, const Chunk3ds& kfdata) {
    return Chunk3ds(M3DMAGIC).add(Chunk3ds(M3D_VERSION).u32(3)).add(mdata).add(kfdata).bytes();
}

// One to three distinct groups of the first eight; half the faces get one.
uint32_t smoothingMask(std::mt19937& random) {
    const uint32_t roll = random() % 100;
    const int bits = roll < 50 ? 1 : roll < 85 ? 2 : 3;
    uint32_t mask = 0;
    while (__builtin_popcount(mask) < bits) mask |= 1u << (random() % 8);
    return mask;
}

// A height field's mesh object framed at origin, its faces in the given
// material groups, each face in the smoothing groups smoothingOf() gives next.
template <class SmoothingOf>
Chunk3ds gridObject(const char* name, const HeightField& grid, const float origin[3], bool textured,
                    const std::vector<Chunk3ds>& groups, SmoothingOf smoothingOf) {
    Chunk3ds faces = faceArray(grid.faces, {}, 7);
    for (const Chunk3ds& group : groups) faces.add(group);
    Chunk3ds smoothing(SMOOTH_GROUP);
    for (size_t f = 0; f < grid.faces.size(); ++f) smoothing.u32(smoothingOf());
    faces.add(smoothing);
    Chunk3ds triangles(N_TRI_OBJECT);
    triangles.add(pointArray(grid.vertices));
    if (textured) triangles.add(texVerts(grid.texCoords));
    triangles.add(frameAt(origin)).add(faces);
    return namedObject(name, {triangles});
}

}  // namespace

Bytes bigSceneModel() {
    std::mt19937 random(kSeed);
    const char* const materials[3] = {"Stone", "Brass", "Painted"};
    Chunk3ds mdata(MDATA);
    mdata.add(material(materials[0], 140, 140, 130, 2, nullptr))
        .add(material(materials[1], 180, 140, 60, 3, nullptr))
        .add(material(materials[2], 200, 60, 60, 3, kSceneImageName));

    Chunk3ds kfdata(KFDATA);
    uint16_t nextId = 0;
    for (int i = 0; i < 200; ++i) {
        const float origin[3] = {float(i % 20) * 100.0f, float(i / 20) * 100.0f, 0.0f};
        const int columns = 61 + int(random() % 10);
        const int targetFaces = 8150 + int(random() % 1851);
        const int rows = 1 + targetFaces / (2 * (columns - 1));
        const HeightField grid = heightField(columns, rows, origin, 2);

        // Bands of rows in two or, on every third mesh (the one with texture
        // coordinates), three materials.
        const bool textured = i % 3 == 0;
        const int bands = textured ? 3 : 2;
        const uint32_t faceCount = uint32_t(grid.faces.size());
        std::vector<Chunk3ds> groups;
        for (int band = 0; band < bands; ++band)
            groups.push_back(
                materialGroup(materials[band], faceRange(faceCount * band / bands, faceCount * (band + 1) / bands)));
        char name[11];
        std::snprintf(name, sizeof name, "M%03d", i);
        mdata.add(gridObject(name, grid, origin, textured, groups, [&] { return smoothingMask(random); }));

        // Seven nodes in ten hang below a node written earlier.
        const int instances = i % 10 == 0 ? 2 : 1;
        for (int k = 0; k < instances; ++k) {
            const uint16_t parent = nextId > 0 && random() % 10 < 7 ? uint16_t(random() % nextId) : uint16_t(0xFFFF);
            const float position[3] = {origin[0], origin[1], float(k) * 50.0f};
            const float angle = float(random() % 628) / 100.0f;
            kfdata.add(benchNode(nextId++, name, parent, instances > 1 ? (k == 0 ? "a" : "b") : nullptr, position,
                                  angle));
        }
    }
    return model(mdata, kfdata);
}

Bytes hundredMeshModel() {
    const char* const materials[2] = {"Stone", "Painted"};
    Chunk3ds mdata(MDATA);
    mdata.add(material(materials[0], 140, 140, 130, 3, nullptr))
        .add(material(materials[1], 200, 60, 60, 3, kSceneImageName));
    Chunk3ds kfdata(KFDATA);
    for (int i = 0; i < 100; ++i) {
        const float origin[3] = {float(i % 10) * 120.0f, float(i / 10) * 120.0f, 0.0f};
        const HeightField grid = heightField(105, 105, origin, 2);
        const bool textured = i % 3 == 0;
        const uint32_t faceCount = uint32_t(grid.faces.size());
        char name[11];
        std::snprintf(name, sizeof name, "H%03d", i);
        mdata.add(gridObject(name, grid, origin, textured,
                             {materialGroup(materials[0], faceRange(0, faceCount / 2)),
                              materialGroup(materials[textured ? 1 : 0], faceRange(faceCount / 2, faceCount))},
                             [] { return 1u; }));
        const float position[3] = {origin[0], origin[1], 0.0f};
        kfdata.add(benchNode(uint16_t(i), name, 0xFFFF, nullptr, position, 0.0f));
    }
    return model(mdata, kfdata);
}

Bytes smallModel(int index, const char* image) {
    // A unit box whose sides are cut into cells x cells squares, each side its
    // own set of vertices so the edges stay sharp.
    const int cells = 1 + index % 4;
    const float size[3] = {1.0f + float(index % 7) * 0.25f, 1.0f + float(index % 5) * 0.5f, 1.0f};
    std::vector<float> vertices;
    std::vector<Face> faces;
    std::vector<uint32_t> masks;
    for (int side = 0; side < 6; ++side) {
        const int axis = side / 2;
        const float sign = side % 2 ? 1.0f : -1.0f;
        const int u = (axis + 1) % 3, v = (axis + 2) % 3;
        const uint16_t first = uint16_t(vertices.size() / 3);
        for (int j = 0; j <= cells; ++j)
            for (int i = 0; i <= cells; ++i) {
                float p[3];
                p[axis] = sign * size[axis];
                p[u] = size[u] * (2.0f * float(i) / float(cells) - 1.0f);
                p[v] = size[v] * (2.0f * float(j) / float(cells) - 1.0f);
                vertices.insert(vertices.end(), p, p + 3);
            }
        for (int j = 0; j < cells; ++j)
            for (int i = 0; i < cells; ++i) {
                const uint16_t a = uint16_t(first + j * (cells + 1) + i);
                const uint16_t b = uint16_t(a + 1), c = uint16_t(a + cells + 2), d = uint16_t(a + cells + 1);
                // Counter-clockwise seen from outside on either side of the axis.
                if (sign > 0) {
                    faces.push_back({a, b, c});
                    faces.push_back({a, c, d});
                } else {
                    faces.push_back({a, c, b});
                    faces.push_back({a, d, c});
                }
                masks.push_back(1u << side);
                masks.push_back(1u << side);
            }
    }
    const uint32_t faceCount = uint32_t(faces.size());
    Chunk3ds smoothing(SMOOTH_GROUP);
    for (uint32_t mask : masks) smoothing.u32(mask);
    Chunk3ds faceChunk = faceArray(faces, {}, 7);
    // The two sides across the first axis in one material, the rest in the other.
    faceChunk.add(materialGroup("Slate", faceRange(0, faceCount / 3)))
        .add(materialGroup("Copper", faceRange(faceCount / 3, faceCount)));
    faceChunk.add(smoothing);
    const float origin[3] = {0, 0, 0};
    const Chunk3ds triangles =
        Chunk3ds(N_TRI_OBJECT).add(pointArray(vertices)).add(frameAt(origin)).add(faceChunk);
    const Chunk3ds mdata = Chunk3ds(MDATA)
                               .add(material("Copper", 184, 115, 51, 3, image))
                               .add(material("Slate", 90, 100, 112, 3, nullptr))
                               .add(namedObject("Box", {triangles}));
    const float position[3] = {0, 0, 0.5f};
    return model(mdata, Chunk3ds(KFDATA).add(benchNode(0, "Box", kNoParent, nullptr, position, 0.5f)));
}

namespace {

void bigEndian(Bytes& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

uint32_t crc32(const uint8_t* data, size_t size) {
    uint32_t crc = 0xFFFFFFFFu;
    for (size_t i = 0; i < size; ++i) {
        crc ^= data[i];
        for (int bit = 0; bit < 8; ++bit) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
    }
    return ~crc;
}

void pngChunk(Bytes& png, const char* type, const Bytes& data) {
    bigEndian(png, uint32_t(data.size()));
    Bytes typed(type, type + 4);
    typed.insert(typed.end(), data.begin(), data.end());
    png.insert(png.end(), typed.begin(), typed.end());
    bigEndian(png, crc32(typed.data(), typed.size()));
}

}  // namespace

Bytes checkerImagePng() {
    const int side = 8;
    Bytes rows;
    for (int y = 0; y < side; ++y) {
        rows.push_back(0);  // filter: none
        for (int x = 0; x < side; ++x) {
            const uint8_t shade = (x + y) % 2 ? 230 : 40;
            rows.insert(rows.end(), {shade, shade, shade});
        }
    }
    // A zlib stream of one stored deflate block, so no compressor is needed.
    Bytes stream{0x78, 0x01, 0x01, uint8_t(rows.size()), uint8_t(rows.size() >> 8), uint8_t(~rows.size()),
                 uint8_t(~rows.size() >> 8)};
    stream.insert(stream.end(), rows.begin(), rows.end());
    uint32_t a = 1, b = 0;
    for (uint8_t byte : rows) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    bigEndian(stream, (b << 16) | a);

    Bytes header;
    bigEndian(header, side);
    bigEndian(header, side);
    header.insert(header.end(), {8, 2, 0, 0, 0});  // 8-bit RGB, no interlace
    Bytes png{0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    pngChunk(png, "IHDR", header);
    pngChunk(png, "IDAT", stream);
    pngChunk(png, "IEND", Bytes());
    return png;
}
