#pragma once

// What the end-to-end tests share: how to start the real kestrav, the texts it
// promises byte for byte, and the model files it is run on.

#include <string>
#include <vector>

#include "tests/e2e/ChildProcess.h"

extern const char* const kUsageText;
extern const char* const kCannotReadText;
extern const char* const kNoDisplayText;
extern const char* const kEmptySceneText;

// kestrav with these arguments and no display, unless the test gives one.
LaunchOptions kestravCommand(const std::vector<std::string>& arguments);
// Copies the program to path, with the converter module beside it.
void copyProgram(const std::string& path);
// The same, run from a copy of the binary that the unprivileged user can reach.
LaunchOptions kestravUnprivileged(const std::vector<std::string>& arguments);
LaunchOptions onDisplay(LaunchOptions launch, const std::string& display);
// kestrav with these arguments, as kestravCommand starts it, run from folder.
ProcessResult runKestravIn(const std::string& folder, const std::vector<std::string>& arguments);

// A 3DS file with only an empty main chunk: a model without meshes.
std::string emptyModel();
// The bundled example and a real model from the corpus.
std::string exampleModel();
std::string corpusModel(const std::string& name);
// A new directory inside the scratch directory.
std::string freshDirectory(const std::string& name);
// SGI Inventor's ivcat along PATH, or empty when it is not installed.
std::string ivcatPath();
// The temporary scenes kestrav is writing, or left behind, anywhere below folder.
std::vector<std::string> temporariesBelow(const std::string& folder);
