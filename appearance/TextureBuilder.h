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

    // The scene's names of the texture and bump images, null for those not
    // asked for or not found, looked up as buildTextures does: a scene whose
    // nodes are made later still reports its images in the same order.
    struct ImageNames {
        const char* texture;
        const char* bump;
    };
    ImageNames lookUpImages();

private:
    void buildTextureCoordinates(SoSeparator* objectSeparator);
    void buildTextureTransforms(SoSeparator* materialSeparator, bool bumpImageFound);

    const MeshRecord* currentMesh;
    const MaterialRecord* currentMaterial;
    bool withBumpMaps;
    TextureLookup& lookup;
};

}  // namespace kestrav
