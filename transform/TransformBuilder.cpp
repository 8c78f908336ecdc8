// placeholder until implemented
#include "transform/TransformBuilder.h"
TransformBuilder::TransformBuilder(SceneConverter*) : nodeDatabase(nullptr) {}
void TransformBuilder::buildTransforms(int&) {}
