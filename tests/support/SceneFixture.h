#pragma once

// Converts 3DS bytes in-process, as the program does, and reads the written
// Open Inventor text back with Coin so tests can check the scene as a scene.

#include <string>
#include <vector>

#include "cli/ConverterOptions.h"
#include "tools/writer/Chunk3ds.h"

using namespace kestrav;

class SoNode;
class SoSeparator;
class SoType;

// A fresh scratch directory for this test process; removed at exit.
const std::string& scratchDirectory();
// Writes bytes to a file in the scratch directory and returns its path.
std::string writeScratchFile(const std::string& name, const Bytes& bytes);
std::string readTextFile(const std::string& path);

struct ConvertedScene {
    SoSeparator* root = nullptr;  // the scene read back from the written text
    std::string text;             // the written text
    std::vector<std::string> messages;  // the conversion's lines as the program prints them
    ~ConvertedScene();
    ConvertedScene() = default;
    ConvertedScene(const ConvertedScene&) = delete;
    ConvertedScene& operator=(const ConvertedScene&) = delete;
    ConvertedScene(ConvertedScene&& other) noexcept;
};

// Converts the file (3DS bytes) with the given options and a line-width range
// of (lineMin, lineMax) to a scratch .iv file, always as ASCII.
ConvertedScene convertBytes(const Bytes& file, ConverterOptions options = ConverterOptions(),
                            float lineMin = 1.0f, float lineMax = 10.0f);
ConvertedScene convertFile(const std::string& path, ConverterOptions options = ConverterOptions(),
                           float lineMin = 1.0f, float lineMax = 10.0f);
// The lines as the program prints them, each with its newline.
std::string joinedLines(const std::vector<std::string>& lines);
// Reads Open Inventor text; null when Coin reports an error.
SoSeparator* readSceneText(const std::string& text);

// The i-th child of a group, checked to be of type T (null otherwise).
template <class T>
T* childAs(SoNode* group, int i);
// Every node of type T at or under node, depth first, in traversal order.
template <class T>
std::vector<T*> nodesOf(SoNode* node);

#include "tests/support/SceneFixture.inl"
