#pragma once

// The benchmark's inputs, made with the project's own 3DS writer so nothing
// large is kept in the repository. Every model is the same on every run: the
// random choices come from a fixed seed.

#include "tools/writer/HeightField.h"

using namespace kestrav;

// Image files the textured materials name; the benchmark puts them in the
// folder each conversion runs in and writes to.
extern const char* const kLimitImageName;
extern const char* const kSceneImageName;

// 200 meshes of 8,000 to 10,000 faces in three materials (one textured), random
// masks of one to three smoothing groups per face, and a keyframer section in
// which each mesh has a node, every tenth a second instance, and most nodes a
// parent read before them.
Bytes bigSceneModel();

// 100 meshes of 104 x 104 cells, two triangles a cell (21,632 faces, 11,025
// vertices), one smoothing group each and two materials, every third mesh
// textured, each with one keyframer node: 47 MB, a large model with a
// simpler scene than bigSceneModel's.
Bytes hundredMeshModel();

// A small model like the bundled example: a box of two materials with one
// smoothing group per side and a keyframer node; index picks its size (12 to
// 192 triangles) and its proportions. With image, one material is textured
// with that file name.
Bytes smallModel(int index, const char* image = nullptr);

// An 8 x 8 checkerboard as a PNG file, for the textured materials.
Bytes checkerImagePng();
