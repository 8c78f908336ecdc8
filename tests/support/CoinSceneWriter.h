#pragma once

#include <string>

#include "convert/SceneWriter.h"

class SoNode;

namespace kestrav {

// writeScene with the text formatted by Coin's own SoOutput: slower, and kept
// so the tests and the benchmark can check that both write the same bytes.
bool writeSceneWithCoinOutput(SoNode* root, const std::string& outputPath, std::string& failure,
                              SceneFormat format = SceneFormat::Ascii);

}  // namespace kestrav
