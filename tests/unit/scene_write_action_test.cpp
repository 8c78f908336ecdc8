// A scene whose parts are filled only as the write reaches them must come out
// as Coin writes the same scene built whole, in every form, and must hold no
// more than the part being written.

#include <Inventor/SoDB.h>
#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoIndexedFaceSet.h>
#include <Inventor/nodes/SoMaterial.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoSeparator.h>
#include <gtest/gtest.h>

#include <filesystem>
#include <new>
#include <string>
#include <vector>

#include "convert/SceneWriter.h"
#include "tests/support/CoinSceneWriter.h"
#include "tests/support/SceneFixture.h"

using namespace kestrav;

namespace {

const int kParts = 4;

// Part i: its coordinates, a material used twice (written once with DEF,
// then USE) and a face set; the last part names its face set.
void fillPart(SoSeparator* part, int i) {
    SoCoordinate3* coordinates = new SoCoordinate3;
    for (int v = 0; v < 3 + i; ++v) coordinates->point.set1Value(v, float(v), float(i), -0.5f * float(v));
    part->addChild(coordinates);
    SoMaterial* material = new SoMaterial;
    material->diffuseColor.setValue(0.25f * float(i), 0.5f, 1.0f);
    SoIndexedFaceSet* faces = new SoIndexedFaceSet;
    const int32_t indices[] = {0, 1, 2, -1};
    faces->coordIndex.setValues(0, 4, indices);
    if (i == kParts - 1) faces->setName("Last");
    part->addChild(material);
    part->addChild(faces);
    part->addChild(material);
}

// A named camera (DEF), the parts, and the camera again (USE) after them.
SoSeparator* frame(std::vector<SoSeparator*>& parts) {
    SoSeparator* root = new SoSeparator;
    root->ref();
    SoPerspectiveCamera* camera = new SoPerspectiveCamera;
    camera->setName("Camera01");
    root->addChild(camera);
    for (int i = 0; i < kParts; ++i) {
        parts.push_back(new SoSeparator);
        root->addChild(parts.back());
    }
    root->addChild(camera);
    return root;
}

struct Streamed {
    std::string text;
    bool writtenEmpty = true;  // every part was emptied before the next was filled
};

Streamed writeStreamed(const std::string& path, SceneFormat format, size_t threads) {
    std::vector<SoSeparator*> parts;
    SoSeparator* root = frame(parts);
    size_t next = 0;
    Streamed streamed;
    const PartFiller fill = [&](const SoNode* node) {
        if (next == parts.size() || node != parts[next]) return false;
        if (next > 0) {
            SoCoordinate3* before = static_cast<SoCoordinate3*>(parts[next - 1]->getChild(0));
            streamed.writtenEmpty = streamed.writtenEmpty && before->point.getNum() == 0;
        }
        fillPart(parts[next], int(next));
        ++next;
        return true;
    };
    std::string failure;
    EXPECT_TRUE(writeScene(root, path, failure, format, nullptr, threads, fill)) << failure;
    EXPECT_EQ(next, parts.size());
    root->unref();
    streamed.text = readTextFile(path);
    return streamed;
}

std::string writeWhole(const std::string& path, SceneFormat format) {
    std::vector<SoSeparator*> parts;
    SoSeparator* root = frame(parts);
    for (int i = 0; i < kParts; ++i) fillPart(parts[size_t(i)], i);
    std::string failure;
    EXPECT_TRUE(writeSceneWithCoinOutput(root, path, failure, format)) << failure;
    root->unref();
    return readTextFile(path);
}

}  // namespace

TEST(SceneWriteAction, PartsFilledAsTheyAreWrittenGiveCoinsBytesAndAreEmptiedOneByOne) {
    SoDB::init();
    const std::string path = scratchDirectory() + "/parts.iv";
    for (const SceneFormat format : {SceneFormat::Ascii, SceneFormat::Binary}) {
        const std::string whole = writeWhole(path, format);
        if (format == SceneFormat::Ascii) {
            // References inside a part and across it are counted as for the whole.
            EXPECT_NE(whole.find("DEF Camera01"), std::string::npos);
            EXPECT_NE(whole.find("USE Camera01"), std::string::npos);
            EXPECT_NE(whole.find("DEF Last IndexedFaceSet"), std::string::npos);
            EXPECT_NE(whole.find("USE _+3"), std::string::npos);
        }
        for (const size_t threads : {size_t(1), size_t(3)}) {
            const Streamed streamed = writeStreamed(path, format, threads);
            EXPECT_EQ(streamed.text, whole) << "binary " << (format == SceneFormat::Binary) << ", threads " << threads;
            EXPECT_TRUE(streamed.writtenEmpty);
        }
    }
}

TEST(SceneWriteAction, AFillThatRunsOutOfMemoryLeavesTheOldSceneAndNoTemporary) {
    SoDB::init();
    const std::string folder = scratchDirectory() + "/failing-part";
    std::filesystem::create_directories(folder);
    const std::string path = folder + "/scene.iv";
    writeScratchFile("failing-part/scene.iv", Bytes{'o', 'l', 'd', '\n'});
    for (const SceneFormat format : {SceneFormat::Ascii, SceneFormat::Binary}) {
        std::vector<SoSeparator*> parts;
        SoSeparator* root = frame(parts);
        int filled = 0;
        const PartFiller fill = [&](const SoNode* node) {
            if (node != parts[size_t(filled)]) return false;
            if (filled == 2) throw std::bad_alloc();
            fillPart(parts[size_t(filled)], filled);
            ++filled;
            return true;
        };
        std::string failure;
        EXPECT_THROW(writeScene(root, path, failure, format, nullptr, 2, fill), std::bad_alloc);
        EXPECT_EQ(filled, 2);
        root->unref();
        EXPECT_EQ(readTextFile(path), "old\n");
        size_t files = 0;
        for (const auto& entry : std::filesystem::directory_iterator(folder)) files += entry.path() == path ? 1 : 100;
        EXPECT_EQ(files, 1u) << "a temporary file was left";
    }
}
