#pragma once

// Large generated meshes: bumpy sheets of vertices, and the mesh at both
// 16-bit limits that the tests and the benchmark convert.

#include <string>
#include <vector>

#include "tools/writer/ModelChunks.h"

namespace kestrav {

struct HeightField {
    int columns = 0;
    int rows = 0;
    std::vector<float> vertices;   // columns * rows * 3
    std::vector<float> texCoords;  // columns * rows * 2
    std::vector<Face> faces;
};

// A bumpy sheet of columns x rows vertices starting at origin, with one or two
// triangles per cell.
HeightField heightField(int columns, int rows, const float origin[3], int trianglesPerCell);

// One mesh near both 16-bit limits: a 255 x 257 height field with one triangle
// per cell (65,535 vertices, 65,024 faces), all in smoothing group 1, with
// texture coordinates, a keyframer node and one material, textured with
// imageName unless it is empty.
Bytes limitMeshModel(const std::string& imageName = "");

}  // namespace kestrav
