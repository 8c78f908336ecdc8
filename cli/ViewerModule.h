#pragma once

#include <string>

namespace kestrav {

class Conversion;

// The examiner viewer lives in a module of its own, kestrav-viewer.so, which
// only -e and -v load: a conversion then never loads the GUI toolkit, and
// starts as fast as Coin alone allows. Coin must be initialised already.
//
// The module's one entry point: starts the GUI toolkit and shows the
// conversion's scene, titled after the model file, until the user closes the
// window. With fileLights, the view starts from the file's camera and lights.
using ViewScene = void (*)(const char* modelPath, const Conversion& view, bool fileLights);
inline constexpr const char* kViewSceneSymbol = "kestrav_view_scene";

// Loads the module, from beside the program (a build tree) or else from where
// it is installed relative to the program. Null, with why not in failure, when
// it cannot be loaded.
ViewScene loadViewer(std::string& failure);

}  // namespace kestrav
