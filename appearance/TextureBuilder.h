#pragma once

#include "convert/SceneConverter.h"

namespace kestrav {

class TextureLookup;

// Texture coordinates (added at construction), texture transforms, the texture
// and, with -b, the bump map of one material group.
class TextureBuilder : public SceneConverter {
public:
    explicit TextureBuilder(SceneConverter* converter);

    void buildTextures();

private:
    void buildTextureCoordinates();
    void buildTextureTransforms();

    ConverterOptions textureOptions;
    TextureLookup* lookup;  // the converter's
};

}  // namespace kestrav
