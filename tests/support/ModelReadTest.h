#pragma once

// A test that reads 3DS bytes or files with the program's own reader and looks
// at the lists it fills. The model is released after every test.

#include <gtest/gtest.h>

#include <string>

#include "reader/ModelDatabase.h"
#include "tools/writer/Chunk3ds.h"

using namespace kestrav;

class ModelReadTest : public testing::Test {
protected:
    void TearDown() override;

    // The walk of readDatabase over a heap copy of exactly the file's bytes,
    // so AddressSanitizer sees any read past them; 1 when it read them, 0
    // when memory ran out.
    int readBytes(const Bytes& file);
    // readDatabase on a file; its result.
    int readFile(const std::string& path);
    // Reads and expects a complete walk. Wrap calls in ASSERT_NO_FATAL_FAILURE:
    // after a failure the lists may not exist.
    void read(const Bytes& file);

    ModelDatabase database;
    const MeshList* meshes = nullptr;
    const MaterialList* materials = nullptr;
    const KeyframeList* keyframes = nullptr;

private:
    void takeLists();
};

// The folder of the real models, from KESTRAV_CORPUS, which CMake sets for
// every test program; empty when it is not set.
std::string corpusFolder();
// A file of that folder.
std::string corpusPath(const std::string& file);
// Success when the folder exists; use as ASSERT_TRUE(corpusIsThere()), so a
// test without its data fails with the reason rather than crashing.
testing::AssertionResult corpusIsThere();
