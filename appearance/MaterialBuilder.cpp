// placeholder until implemented
#include "appearance/MaterialBuilder.h"
MaterialBuilder::MaterialBuilder(SceneConverter*) {}
void MaterialBuilder::buildMaterial(int) {}
