#pragma once

#include <string>

class SoNode;

namespace kestrav {

// Told null just before the temporary file is made, its path as soon as it
// exists, and null again once it is renamed or removed, so that a program can
// hold back its signals while no handler could know the name, and remove the
// file when one arrives.
using TemporaryWatch = void (*)(const char* temporaryPath);

// Writes the scene as Open Inventor ASCII to outputPath, or to standard output
// when it is empty. A regular file is replaced only after a complete, checked
// write of a temporary file beside it. Returns false and sets failure to one
// line for the user when the scene could not be written in full. When memory
// runs out, the temporary file is removed and std::bad_alloc passed on.
bool writeScene(SoNode* root, const std::string& outputPath, std::string& failure, TemporaryWatch watch = nullptr);
// The same, with the text formatted by Coin's own SoOutput: slower, and kept so
// tests can check that both write the same bytes.
// True when both paths name one existing file, through links or otherwise.
bool isSameFile(const std::string& first, const std::string& second);

bool writeSceneWithCoinOutput(SoNode* root, const std::string& outputPath, std::string& failure);

}  // namespace kestrav
