// placeholder until implemented
#include "appearance/TextureBuilder.h"
TextureBuilder::TextureBuilder(SceneConverter*) {}
void TextureBuilder::buildTextures() {}
