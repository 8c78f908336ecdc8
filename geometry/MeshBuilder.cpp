// placeholder until implemented
#include "geometry/MeshBuilder.h"
MeshBuilder::MeshBuilder(SceneConverter* c) : vertexFaceTable(nullptr), coordinateParent(c->getObjectSeparator()), faceSetParent(nullptr) {}
MeshBuilder::~MeshBuilder() {}
MeshBuilder* MeshBuilder::setFaceSetParent(SoSeparator* p) { faceSetParent = p; return this; }
void MeshBuilder::buildGeometry(int, int) {}
