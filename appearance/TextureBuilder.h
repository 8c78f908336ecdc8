#pragma once

#include "reader/ModelRecords.h"

class SoSeparator;

namespace kestrav {

class TextureLookup;

// Texture coordinates, texture transforms, the texture and, when asked, the
// bump map of one material group.
class TextureBuilder {
public:
    // lookup finds the images and must outlive the builder.
    TextureBuilder(const MeshRecord* mesh, const MaterialRecord* material, bool bumpMaps, TextureLookup& lookup);

    // The texture coordinates go to the object separator, the rest to the
    // material separator.
    void buildTextures(SoSeparator* objectSeparator, SoSeparator* materialSeparator);

private:
    void buildTextureCoordinates(SoSeparator* objectSeparator);
    void buildTextureTransforms(SoSeparator* materialSeparator, bool bumpImageFound);

    const MeshRecord* currentMesh;
    const MaterialRecord* currentMaterial;
    bool withBumpMaps;
    TextureLookup& lookup;
};

}  // namespace kestrav
