#pragma once

// A conversion only names its images: decoding them would cost time and let
// Coin print its own warnings about files that are not valid images. The
// images are loaded when the scene is about to be shown.

#include <string>

class SoNode;
class SoSFString;

namespace kestrav {

// Sets an image file name without making Coin read the image.
void referenceTextureImage(SoSFString& filename, const char* name);

// Reads the images of every SoTexture2 and SoBumpMap under root. The scene
// names them relative to sceneFolder (empty: the current directory), where
// Coin looks first.
void loadTextureImages(SoNode* root, const std::string& sceneFolder);

}  // namespace kestrav
