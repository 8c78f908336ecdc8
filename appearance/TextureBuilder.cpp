#include "appearance/TextureBuilder.h"

#include <Inventor/nodes/SoBumpMap.h>
#include <Inventor/nodes/SoBumpMapTransform.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoTexture2.h>
#include <Inventor/nodes/SoTexture2Transform.h>
#include <Inventor/nodes/SoTextureCoordinate2.h>
#include <Inventor/nodes/SoTextureCoordinateBinding.h>

#include "appearance/TextureImages.h"
#include "appearance/TextureLookup.h"

namespace kestrav {

TextureBuilder::TextureBuilder(const MeshRecord* mesh, const MaterialRecord* material, bool bumpMaps,
                               TextureLookup& textureLookup)
    : currentMesh(mesh), currentMaterial(material), withBumpMaps(bumpMaps), lookup(textureLookup) {}

TextureBuilder::ImageNames TextureBuilder::lookUpImages() {
    const MapRecord& textureMap = currentMaterial->textureMap;
    const MapRecord& bumpMap = currentMaterial->bumpMap;
    ImageNames names;
    names.texture = textureMap.fileName[0] != 0 ? lookup.sceneName(textureMap.fileName) : nullptr;
    names.bump = bumpMap.fileName[0] != 0 && withBumpMaps ? lookup.sceneName(bumpMap.fileName) : nullptr;
    return names;
}

void TextureBuilder::buildTextures(SoSeparator* objectSeparator, SoSeparator* materialSeparator) {
    // Looked up before any node is added, so that a bump image that is not
    // found takes its transform with it; a missing image is reported by the
    // look-up and left out.
    const ImageNames names = lookUpImages();
    const char* const textureName = names.texture;
    const char* const bumpName = names.bump;
    const MapRecord& textureMap = currentMaterial->textureMap;

    buildTextureCoordinates(objectSeparator);
    buildTextureTransforms(materialSeparator, bumpName != nullptr);

    if (textureName) {
        SoTexture2* texture = new SoTexture2;
        referenceTextureImage(texture->filename, textureName);
        texture->model.setValue(textureMap.blendMode ? SoTexture2::MODULATE : SoTexture2::DECAL);
        materialSeparator->addChild(texture);
    }
    if (bumpName) {
        SoBumpMap* bump = new SoBumpMap;
        referenceTextureImage(bump->filename, bumpName);
        materialSeparator->addChild(bump);
    }
}

void TextureBuilder::buildTextureCoordinates(SoSeparator* objectSeparator) {
    if (!currentMesh->texCoords) return;
    SoTextureCoordinate2* coordinates = new SoTextureCoordinate2;
    coordinates->point.setNum(currentMesh->texCoordCount);
    SbVec2f* points = coordinates->point.startEditing();
    for (int i = 0; i < currentMesh->texCoordCount; ++i)
        points[i].setValue(currentMesh->texCoords[2 * i], currentMesh->texCoords[2 * i + 1]);
    coordinates->point.finishEditing();
    objectSeparator->addChild(coordinates);

    // The face sets carry no texture-coordinate index: their vertex indices pick
    // the texture coordinates.
    SoTextureCoordinateBinding* binding = new SoTextureCoordinateBinding;
    binding->value.setValue(SoTextureCoordinateBinding::PER_VERTEX_INDEXED);
    objectSeparator->addChild(binding);
}

void TextureBuilder::buildTextureTransforms(SoSeparator* materialSeparator, bool bumpImageFound) {
    const MapRecord& textureMap = currentMaterial->textureMap;
    if (textureMap.fileName[0] != 0) {
        SoTexture2Transform* transform = new SoTexture2Transform;
        transform->translation.setValue(textureMap.uOffset, textureMap.vOffset);
        transform->scaleFactor.setValue(textureMap.uScale, textureMap.vScale);
        materialSeparator->addChild(transform);
    }
    // The bump-map nodes are Coin's own; without -b or a bump image none is
    // written, so other Inventor readers can load the scene.
    if (bumpImageFound) {
        const MapRecord& bumpMap = currentMaterial->bumpMap;
        SoBumpMapTransform* transform = new SoBumpMapTransform;
        transform->translation.setValue(bumpMap.uOffset, bumpMap.vOffset);
        transform->scaleFactor.setValue(bumpMap.uScale, bumpMap.vScale);
        materialSeparator->addChild(transform);
    }
}

}  // namespace kestrav
