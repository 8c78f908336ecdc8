#pragma once

// Models damaged inside chunks whose lengths are sound, as some exporters write
// them or as they come to harm: each loses only its damaged chunk and converts
// otherwise whole. The tests, the end-to-end tests and the fuzz seeds share them.
//
// With damaged false each writes the model as the converter should take it:
// without the damaged chunk, or (for the vertex that is not finite) with the
// vertex at the origin and its faces naming a vertex the mesh lacks.

#include <string>
#include <vector>

#include "tools/writer/ModelChunks.h"

namespace kestrav {

// Eight quads "Part1" to "Part8", each with texture coordinates, a material
// group and a node; every 0x4111 says 7 flags and holds 4.
Bytes sevenPointFlagsModel(bool damaged = true);
// "Rock" whose 0x4111 is empty (no count at all), then the quad "Pebble".
Bytes emptyPointFlagsModel(bool damaged = true);
// "Short", whose 0x4110 says 6 vertices and holds 4 (its two faces name
// vertices it then lacks), then the whole quad "Whole".
Bytes pointCountPastChunkModel(bool damaged = true);
// "Split": two faces, a "Red" group of face 0, then a "Blue" group saying 9
// faces and holding 1; then the quad "Whole" in "Red".
Bytes materialGroupCountPastChunkModel(bool damaged = true);
// "Broken": a quad in "Red", then a second 0x4120 that says 256 faces and
// holds 2, with a "Blue" group and smoothing masks after them, then the quad's
// texture coordinates; then the quad "Whole".
Bytes facesPastChunkModel(bool damaged = true);
// The quad "Box" with a node that has a position key (1, 2, 3), a rotation
// track whose one key sets every spline flag but holds no spline value, and a
// scale key (2, 2, 2); then the quad "Next" with a node of its own.
Bytes rotationSplinesPastChunkModel(bool damaged = true);
// "Spiky": corners 0 to 3 of a unit square and vertex 4 with a not-a-number
// coordinate; faces (0 1 2) (0 2 3) (0 1 4) (1 2 4); its frame has an infinite
// origin and its node a not-a-number pivot. Then the quad "Plain".
Bytes nonFiniteModel(bool damaged = true);

struct DamagedModel {
    std::string name;              // a file name that says what is damaged
    Bytes (*write)(bool damaged);  // one of the writers above
};
// Every model above under its file name.
std::vector<DamagedModel> locallyDamagedModels();

}  // namespace kestrav
