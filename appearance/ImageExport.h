#pragma once

// The images a scene names, checked once the scene is built. Without -p a
// found image that Coin cannot load gets a line; with -p every image goes
// into the scene's folder, JPEG and SGI RGB as they are and any other format
// decoded and written as SGI RGB, and the scene names it there.

#include <string>
#include <vector>

class SoNode;

namespace kestrav {

// Held while a conversion names and writes its images in a folder that other
// conversions share: a batch hands it out in input order, so the same inputs
// give the same names however its workers are scheduled.
class ImageTurn {
public:
    virtual ~ImageTurn() = default;
    virtual void take() = 0;
    virtual void give() = 0;
};

struct ImageWriting {
    bool portable = false;
    // The mkstemp template of the file an image is written to before it gets its name.
    const char* temporaryTemplate = ".kestrav-XXXXXX";
    // Told about that file as the scene writer's TemporaryWatch is.
    void (*watch)(const char* temporaryPath) = nullptr;
    ImageTurn* turn = nullptr;
};

// One image as -p writes it: its bytes and the plain file name it goes under,
// or why it cannot be.
struct PortableImage {
    bool ready = false;
    std::string name;
    std::string bytes;
    std::string failure;
};

// fileName is the image's own file name, without folders.
PortableImage portableImage(const std::string& fileName, std::string bytes);

// Checks (and with writing.portable writes) every image of the SoTexture2 and
// SoBumpMap nodes under root, whose names are relative to sceneFolder (empty:
// the current directory), renaming them in the scene; one line each to
// messages for what the user should know. An image that cannot be written
// keeps its name in the scene.
void exportImages(SoNode* root, const std::string& sceneFolder, const ImageWriting& writing,
                  std::vector<std::string>& messages);

// What exportImages checks without writing.portable, for the images of a
// scene not built yet: names are the scene's, each once, those of its
// SoTexture2 nodes first, then those of its SoBumpMap nodes, in traversal order.
void checkImages(const std::vector<std::string>& names, const std::string& sceneFolder,
                 std::vector<std::string>& messages);

}  // namespace kestrav
