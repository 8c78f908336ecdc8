#pragma once

#include <string>

class SoNode;

namespace kestrav {

// Open Inventor's two forms of a scene file: text, or the binary form that is
// smaller and faster to read back.
enum class SceneFormat { Ascii, Binary };

// Writes the scene as Open Inventor ASCII (or binary) to outputPath, or to
// standard output when it is empty. A regular file is replaced only after a
// complete, checked write of a temporary file beside it. Returns false and sets
// failure to one line for the user when the scene could not be written in full.
bool writeScene(SoNode* root, const std::string& outputPath, std::string& failure,
                SceneFormat format = SceneFormat::Ascii);
// The same, with the scene formatted by Coin's own SoOutput: slower, and kept so
// tests can check that both write the same bytes.
bool writeSceneWithCoinOutput(SoNode* root, const std::string& outputPath, std::string& failure,
                              SceneFormat format = SceneFormat::Ascii);

}  // namespace kestrav
