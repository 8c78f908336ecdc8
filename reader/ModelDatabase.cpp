// placeholder until implemented
#include "reader/ModelDatabase.h"
namespace { MeshList emptyMeshes{}; }
int ModelDatabase::readDatabase(const char* f) { return f[0] != 0; }
int ModelDatabase::readDatabaseFrom(FILE*) { return 1; }
WalkEnd ModelDatabase::lastWalkEnd() const { return WalkEnd::Complete; }
void ModelDatabase::getMeshList(MeshList*& out) const { out = &emptyMeshes; }
void ModelDatabase::findMesh(const char*, MeshRecord*& out) const { out = nullptr; }
void ModelDatabase::findMaterial(const char*, MaterialRecord*& out) const { out = nullptr; }
void ModelDatabase::lookupNode(const char*, KeyframeNode*& out) const { out = nullptr; }
void ModelDatabase::findNode(const char*, int, KeyframeNode*& out) const { out = nullptr; }
int ModelDatabase::countNodes(const char*) const { return 0; }
void ModelDatabase::getMaterialList(MaterialList*& out) const { out = nullptr; }
void ModelDatabase::getKeyframeList(KeyframeList*& out) const { out = nullptr; }
void ModelDatabase::releaseDatabase() {}
