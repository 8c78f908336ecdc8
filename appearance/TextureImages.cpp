#include "appearance/TextureImages.h"

#include <Inventor/SoInput.h>
#include <Inventor/fields/SoSFString.h>
#include <Inventor/nodes/SoBumpMap.h>
#include <Inventor/nodes/SoTexture2.h>

#include "appearance/NodesOfType.h"

namespace kestrav {

namespace {
// Both nodes read their image from a sensor on the filename field, which
// fires on every notification of that field.
template <class ImageNode>
void touchFilenames(SoNode* root) {
    for (SoNode* found : nodesOfType(root, ImageNode::getClassTypeId())) {
        ImageNode* node = static_cast<ImageNode*>(found);
        if (node->filename.getValue().getLength() != 0) node->filename.touch();
    }
}
}  // namespace

void referenceTextureImage(SoSFString& filename, const char* name) {
    const SbBool notifying = filename.enableNotify(FALSE);
    filename.setValue(name);
    filename.enableNotify(notifying);
}

void loadTextureImages(SoNode* root, const std::string& sceneFolder) {
    if (!sceneFolder.empty()) SoInput::addDirectoryFirst(sceneFolder.c_str());
    touchFilenames<SoTexture2>(root);
    touchFilenames<SoBumpMap>(root);
    if (!sceneFolder.empty()) SoInput::removeDirectory(sceneFolder.c_str());
}

}  // namespace kestrav
