#include "tools/writer/HeightField.h"

#include <cmath>

namespace kestrav {

HeightField heightField(int columns, int rows, const float origin[3], int trianglesPerCell) {
    HeightField grid;
    grid.columns = columns;
    grid.rows = rows;
    for (int y = 0; y < rows; ++y)
        for (int x = 0; x < columns; ++x) {
            grid.vertices.push_back(origin[0] + float(x));
            grid.vertices.push_back(origin[1] + float(y));
            grid.vertices.push_back(origin[2] + 2.0f * std::sin(0.3f * float(x)) * std::cos(0.2f * float(y)));
            grid.texCoords.push_back(float(x) / float(columns - 1));
            grid.texCoords.push_back(float(y) / float(rows - 1));
        }
    for (int y = 0; y + 1 < rows; ++y)
        for (int x = 0; x + 1 < columns; ++x) {
            const uint16_t corner = uint16_t(y * columns + x);
            const uint16_t up = uint16_t(corner + columns), diagonal = uint16_t(corner + columns + 1);
            grid.faces.push_back({corner, uint16_t(corner + 1), diagonal});
            if (trianglesPerCell == 2) grid.faces.push_back({corner, diagonal, up});
        }
    return grid;
}

Bytes limitMeshModel(const std::string& imageName) {
    const float origin[3] = {0, 0, 0};
    const HeightField grid = heightField(255, 257, origin, 1);
    const uint32_t faceCount = uint32_t(grid.faces.size());
    const Chunk3ds faces = faceArray(
        grid.faces, {materialGroup("Terrain", faceRange(0, faceCount)), smoothGroup(std::vector<uint32_t>(faceCount, 1))},
        7);
    Chunk3ds terrain = material("Terrain", 3,
                                {colour(MAT_AMBIENT, 30, 40, 22), colour(MAT_DIFFUSE, 120, 160, 90),
                                 colour(MAT_SPECULAR, 60, 60, 60), percentage(MAT_SHININESS, 30)});
    if (!imageName.empty()) terrain.add(mapChunk(MAT_TEXMAP, imageName));
    return model3ds({terrain, meshObject("Limit", {pointArray(grid.vertices), texVerts(grid.texCoords),
                                                   meshMatrix({1, 0, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0}), faces})},
                    {objectNode(0, "Limit", kNoParent,
                                {Chunk3ds(PIVOT).floats({0, 0, 0}), track(POS_TRACK_TAG, {{0, 0, 0}}),
                                 track(ROT_TRACK_TAG, {{0, 0, 0, 1}}), track(SCL_TRACK_TAG, {{1, 1, 1}})})});
}

}  // namespace kestrav
