#pragma once

#include <string>

class SoNode;

namespace kestrav {

// The mkstemp template of the temporary file a scene is written to beside its
// target before it replaces it.
extern const char* const kTemporarySceneName;

// Writes the scene as Open Inventor ASCII to outputPath, or to standard output
// when it is empty. A regular file is replaced only after a complete, checked
// write of a temporary file beside it. Returns false and sets failure to one
// line for the user when the scene could not be written in full.
bool writeScene(SoNode* root, const std::string& outputPath, std::string& failure);
// The same, with the text formatted by Coin's own SoOutput: slower, and kept so
// tests can check that both write the same bytes.
bool writeSceneWithCoinOutput(SoNode* root, const std::string& outputPath, std::string& failure);

}  // namespace kestrav
