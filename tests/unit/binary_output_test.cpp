// BinarySceneOutput must write exactly what Coin's own SoOutput writes in
// binary mode, value by value and scene by scene, and Coin must read what it
// wrote back to the scene the ASCII text describes.

#include <Inventor/SbName.h>
#include <Inventor/SbString.h>
#include <Inventor/SoOutput.h>
#include <Inventor/engines/SoSelectOne.h>
#include <Inventor/engines/SoTimeCounter.h>
#include <Inventor/fields/SoMFInt32.h>
#include <Inventor/fields/SoMFMatrix.h>
#include <Inventor/nodes/SoBumpMap.h>
#include <Inventor/nodes/SoBumpMapTransform.h>
#include <Inventor/nodes/SoCoordinate3.h>
#include <Inventor/nodes/SoDrawStyle.h>
#include <Inventor/nodes/SoEnvironment.h>
#include <Inventor/nodes/SoIndexedFaceSet.h>
#include <Inventor/nodes/SoInfo.h>
#include <Inventor/nodes/SoMaterial.h>
#include <Inventor/nodes/SoMatrixTransform.h>
#include <Inventor/nodes/SoNormal.h>
#include <Inventor/nodes/SoNormalBinding.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoPointLight.h>
#include <Inventor/nodes/SoSeparator.h>
#include <Inventor/nodes/SoShapeHints.h>
#include <Inventor/nodes/SoSpotLight.h>
#include <Inventor/nodes/SoSwitch.h>
#include <Inventor/nodes/SoText2.h>
#include <Inventor/nodes/SoTexture2.h>
#include <Inventor/nodes/SoTexture2Transform.h>
#include <Inventor/nodes/SoTextureCoordinate2.h>
#include <Inventor/nodes/SoTextureCoordinateBinding.h>
#include <Inventor/nodes/SoTransform.h>
#include <Inventor/nodes/SoVertexProperty.h>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "convert/BinarySceneOutput.h"
#include "convert/SceneConverter.h"
#include "convert/SceneWriter.h"
#include "tests/support/CoinSceneWriter.h"
#include "tests/support/ModelReadTest.h"
#include "tests/support/SceneFixture.h"
#include "tools/writer/HeightField.h"

using namespace kestrav;

namespace {

namespace fs = std::filesystem;

using Calls = void (*)(SoOutput&);

std::string readBack(std::FILE* file) {
    std::string bytes;
    std::rewind(file);
    char chunk[65536];
    for (size_t n; (n = std::fread(chunk, 1, sizeof chunk, file)) > 0;) bytes.append(chunk, n);
    std::fclose(file);
    return bytes;
}

std::string coinBytes(Calls calls) {
    std::FILE* file = std::tmpfile();
    if (!file) return "no temporary file";
    {
        SoOutput output;
        output.setBinary(TRUE);
        output.setFilePointer(file);
        calls(output);
    }
    return readBack(file);
}

std::string ourBytes(Calls calls, size_t threads = 1) {
    std::FILE* file = std::tmpfile();
    if (!file) return "no temporary file";
    {
        BinarySceneOutput output(fileno(file), threads);
        // Anything that went past BinarySceneOutput's own writes would land here.
        output.setBuffer(std::malloc(4096), 4096, std::realloc);
        calls(output);
        EXPECT_TRUE(output.finish());
        void* leaked = nullptr;
        size_t leakedSize = 0;
        output.getBuffer(leaked, leakedSize);
        EXPECT_EQ(leakedSize, 0u);
        std::free(leaked);
    }
    return readBack(file);
}

std::string differenceAt(const std::string& coin, const std::string& ours) {
    size_t position = 0;
    while (position < coin.size() && position < ours.size() && coin[position] == ours[position]) ++position;
    return "first difference at byte " + std::to_string(position) + " of " + std::to_string(coin.size()) +
           " (ours has " + std::to_string(ours.size()) + ")";
}

void expectSameBytes(Calls calls) {
    const std::string coin = coinBytes(calls), ours = ourBytes(calls);
    EXPECT_TRUE(coin == ours) << differenceAt(coin, ours);
}

const char* stringOfLength(size_t length) {
    static std::string text;
    text.clear();
    for (size_t i = 0; i < length; ++i) text += char('a' + i % 26);
    return text.c_str();
}

TEST(BinarySceneOutputValues, CharactersStringsAndNamesOfEveryPadding) {
    expectSameBytes([](SoOutput& output) {
        for (int c = 0; c < 256; ++c) output.write(char(c));
        for (size_t length : {0, 1, 2, 3, 4, 5, 255}) {
            output.write(stringOfLength(length));
            output.write(SbString(stringOfLength(length)));
            output.write(SbName(stringOfLength(length)));
        }
        // Quotes and backslashes go out as they are, unlike in ASCII.
        output.write(SbString("\"q\\"));
        // Longer than a block, starting off a block boundary.
        const std::string longText(700001, 'x');
        output.write(longText.c_str());
        output.write(SbString(longText.c_str()));
    });
}

TEST(BinarySceneOutputValues, NumbersAtTheirLimits) {
    expectSameBytes([](SoOutput& output) {
        for (int i : {std::numeric_limits<int>::min(), -1, 0, 1, 0x12345678, std::numeric_limits<int>::max()})
            output.write(i);
        for (unsigned int u : {0u, 1u, 0x80000000u, 0xFFFFFFFFu}) output.write(u);
        for (short s : {std::numeric_limits<short>::min(), short(-1), short(0), std::numeric_limits<short>::max()})
            output.write(s);
        for (unsigned short s : {(unsigned short)0, (unsigned short)0x8001, (unsigned short)0xFFFF}) output.write(s);
        for (float f : {0.0f, -0.0f, 1.0f, -2.5f, std::numeric_limits<float>::denorm_min(),
                        std::numeric_limits<float>::max(), std::numeric_limits<float>::infinity(),
                        std::numeric_limits<float>::quiet_NaN()})
            output.write(f);
        for (double d : {0.0, -1.0, 1e-300, std::numeric_limits<double>::max(), std::numeric_limits<double>::denorm_min()})
            output.write(d);
    });
}

// Arrays of every kind and length, placed so that they straddle the block
// boundary at every offset, doubles included after an odd word.
TEST(BinarySceneOutputValues, ArraysAcrossBlockBoundaries) {
    expectSameBytes([](SoOutput& output) {
        std::mt19937 random(7);
        std::vector<unsigned char> bytes(300000);
        std::vector<int32_t> ints(300000);
        std::vector<float> floats(300000);
        std::vector<double> doubles(300000);
        for (size_t i = 0; i < bytes.size(); ++i) {
            bytes[i] = (unsigned char)(random());
            ints[i] = int32_t(random());
            const uint32_t bits = random();
            std::memcpy(&floats[i], &bits, 4);
            doubles[i] = double(int32_t(random())) * 1e-3;
        }
        for (int length : {0, 1, 2, 3, 5, 70001}) {
            output.writeBinaryArray(bytes.data(), length);
            output.writeBinaryArray(ints.data(), length);
            output.writeBinaryArray(floats.data(), length);
            output.write(1);
            output.writeBinaryArray(doubles.data(), length);
        }
        output.writeBinaryArray(doubles.data(), int(doubles.size()));
        output.writeBinaryArray(bytes.data(), 3);
        output.writeBinaryArray(ints.data(), int(ints.size()));
    });
}

// The header comes before the first write of any kind, and again after a
// reset; indentation in binary mode goes through the overridden writes.
TEST(BinarySceneOutputValues, HeaderBeforeEveryKindOfFirstWrite) {
    const Calls firstWrites[] = {
        [](SoOutput& o) { o.write('a'); },
        [](SoOutput& o) { o.write(""); },
        [](SoOutput& o) { o.write(SbString("s")); },
        [](SoOutput& o) { o.write(SbName("n")); },
        [](SoOutput& o) { o.write(-7); },
        [](SoOutput& o) { o.write(7u); },
        [](SoOutput& o) { o.write(short(-3)); },
        [](SoOutput& o) { o.write((unsigned short)(3)); },
        [](SoOutput& o) { o.write(0.5f); },
        [](SoOutput& o) { o.write(0.25); },
        [](SoOutput& o) {
            const unsigned char c[2] = {1, 2};
            o.writeBinaryArray(c, 2);
        },
        [](SoOutput& o) {
            const int32_t i[1] = {-2};
            o.writeBinaryArray(i, 1);
        },
        [](SoOutput& o) {
            const float f[1] = {3.0f};
            o.writeBinaryArray(f, 1);
        },
        [](SoOutput& o) {
            const double d[1] = {3.0};
            o.writeBinaryArray(d, 1);
        },
        [](SoOutput& o) {
            o.incrementIndent(5);
            o.indent();
            o.write('x');
            o.reset();
            o.write(1);
        },
    };
    for (Calls calls : firstWrites) {
        const std::string coin = coinBytes(calls);
        EXPECT_EQ(coin.rfind("#Inventor V2.1 binary", 0), 0u);
        EXPECT_TRUE(ourBytes(calls) == coin) << differenceAt(coin, ourBytes(calls));
    }
}

// Long enough for a second thread to write most of it: values of every kind,
// words off their boundary after odd raw bytes, arrays across blocks.
void longScene(SoOutput& o) {
    std::vector<int32_t> indices(100003);
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = int32_t(i * 2654435761u);
    std::vector<float> points(3 * 33331);
    for (size_t i = 0; i < points.size(); ++i) points[i] = float(i) * -0.37f;
    const unsigned char raw[5] = {1, 2, 3, 4, 5};
    for (int round = 0; round < 24; ++round) {
        o.write("Separator");
        o.write(round);
        o.writeBinaryArray(raw, 1 + round % 5);
        o.write(float(round) / 3.0f);
        o.write(SbName("Part"));
        o.writeBinaryArray(indices.data(), int(indices.size()) - round);
        o.write(double(round) * 1e-9);
        o.writeBinaryArray(points.data(), int(points.size()));
    }
}

TEST(BinarySceneOutputThreads, LongSceneIsTheSameWrittenOnASecondThread) {
    const std::string one = ourBytes(longScene, 1);
    EXPECT_GT(one.size(), 2 * BlockOutput::kBlocksBeforeWriter * BlockOutput::kBlockBytes);
    EXPECT_TRUE(ourBytes(longScene, 2) == one) << differenceAt(one, ourBytes(longScene, 2));
    EXPECT_TRUE(ourBytes(longScene, 7) == one) << differenceAt(one, ourBytes(longScene, 7));
}

// With two threads the blocks are written on the second, long enough for it
// to start: its errno reaches the caller all the same.
TEST(BinarySceneOutputFailures, FailedWriteIsReportedWithItsErrno) {
    const int full = open("/dev/full", O_WRONLY | O_CLOEXEC);
    ASSERT_GE(full, 0);
    for (size_t threads : {1, 2}) {
        BinarySceneOutput output(full, threads);
        std::vector<float> values(2 * BlockOutput::kBlocksBeforeWriter * BlockOutput::kBlockBytes / 4, 1.0f);
        output.writeBinaryArray(values.data(), int(values.size()));
        errno = 0;
        output.write(1.0f);
        EXPECT_FALSE(output.finish()) << threads;
        EXPECT_EQ(errno, ENOSPC) << threads;
    }
    close(full);
}

// A scene with every field kind the converter writes, empty and one-value
// multiple fields, strings of every padding, DEF and USE, and the engines,
// connections, cameras and lights that animated scenes carry. Coin cannot
// read its own binary SoSelectOne back (it stops at "no field or output ``''
// in ``SelectOne''"), so that engine can be left out.
SoSeparator* everyFieldScene(bool withSelectOne) {
    SoSeparator* root = new SoSeparator;
    root->ref();
    root->setName("Scene");

    SoPerspectiveCamera* camera = new SoPerspectiveCamera;
    camera->position.setValue(1.5f, -2.0f, 1e5f);
    camera->orientation.setValue(SbVec3f(0.3f, 0.5f, 0.8f), 0.7f);
    camera->heightAngle = 0.6f;
    camera->nearDistance = 0.01f;
    camera->farDistance = 2000.0f;
    camera->focalDistance = 17.0f;
    root->addChild(camera);
    SoEnvironment* environment = new SoEnvironment;
    environment->ambientColor.setValue(0.1f, 0.2f, 0.3f);
    environment->fogType = SoEnvironment::FOG;
    environment->fogVisibility = 300.0f;
    root->addChild(environment);
    SoPointLight* point = new SoPointLight;
    point->location.setValue(4, 5, 6);
    point->color.setValue(1, 0.5f, 0.25f);
    point->on = FALSE;
    root->addChild(point);
    SoSpotLight* spot = new SoSpotLight;
    spot->direction.setValue(0, -1, 0);
    spot->cutOffAngle = 0.4f;
    spot->dropOffRate = 0.2f;
    spot->intensity = 0.75f;
    root->addChild(spot);

    SoTimeCounter* counter = new SoTimeCounter;
    counter->min = 0;
    counter->max = 99;
    counter->frequency = 0.25f;
    counter->duty.setNum(0);
    SoMatrixTransform* animated = new SoMatrixTransform;
    SoSwitch* visibility = new SoSwitch;
    root->addChild(animated);
    root->addChild(visibility);
    if (!withSelectOne) visibility->whichChild.connectFrom(&counter->output);
    SoSelectOne* matrices = new SoSelectOne(SoMFMatrix::getClassTypeId());
    SoMFMatrix* input = static_cast<SoMFMatrix*>(matrices->input);
    input->set1Value(0, SbMatrix::identity());
    SbMatrix moved;
    moved.setTranslate(SbVec3f(1, 2, 3));
    input->set1Value(1, moved);
    matrices->ref();
    SoSelectOne* choices = new SoSelectOne(SoMFInt32::getClassTypeId());
    choices->ref();
    static_cast<SoMFInt32*>(choices->input)->setValues(0, 3, std::vector<int32_t>{-1, 0, -3}.data());
    if (withSelectOne) {
        matrices->index.connectFrom(&counter->output);
        animated->matrix.connectFrom(matrices->output);
        choices->index.connectFrom(&counter->output);
        visibility->whichChild.connectFrom(choices->output);
    }
    matrices->unref();
    choices->unref();

    SoSeparator* object = new SoSeparator;
    object->setName("Object_1");
    visibility->addChild(object);
    SoTransform* transform = new SoTransform;
    transform->translation.setValue(-1e-7f, 3, 4);
    transform->rotation.setValue(SbVec3f(0, 0, 1), 3.1f);
    transform->scaleFactor.setValue(1, 2, -1);
    transform->center.setValue(0.5f, 0.5f, 0);
    object->addChild(transform);
    SoMatrixTransform* placement = new SoMatrixTransform;
    placement->matrix.setValue(SbMatrix(1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 15, 16));
    object->addChild(placement);
    SoMaterial* material = new SoMaterial;
    material->setName("Red");
    material->ambientColor.setValue(0.2f, 0, 0);
    material->diffuseColor.setValue(0.8f, 0.1f, 0);
    material->specularColor.setNum(0);
    material->shininess.setValue(0.37f);
    material->transparency.setValue(0.13f);
    object->addChild(material);
    SoDrawStyle* style = new SoDrawStyle;
    style->style = SoDrawStyle::LINES;
    style->lineWidth = 2.75f;
    style->linePattern = 0xF0F0;
    object->addChild(style);
    SoShapeHints* hints = new SoShapeHints;
    hints->vertexOrdering = SoShapeHints::COUNTERCLOCKWISE;
    hints->shapeType = SoShapeHints::SOLID;
    hints->creaseAngle = 0.5f;
    object->addChild(hints);
    // Images that cannot be found: the file name and an image of its own both
    // go out, three bytes a pixel, padded to a whole word.
    SoTexture2* texture = new SoTexture2;
    texture->filename.setValue("WOOD.PNG");
    const unsigned char pixels[] = {1, 2, 3, 4, 5, 6, 7, 8, 9};
    SoTexture2* inlineTexture = new SoTexture2;
    inlineTexture->image.setValue(SbVec2s(3, 1), 3, pixels);
    inlineTexture->wrapS = SoTexture2::CLAMP;
    inlineTexture->model = SoTexture2::DECAL;
    inlineTexture->blendColor.setValue(0.5f, 0.5f, 1);
    object->addChild(texture);
    object->addChild(inlineTexture);
    SoTexture2Transform* textureTransform = new SoTexture2Transform;
    textureTransform->translation.setValue(0.1f, -0.25f);
    textureTransform->rotation = 0.58f;
    textureTransform->scaleFactor.setValue(2, 0.333f);
    object->addChild(textureTransform);
    SoBumpMap* bump = new SoBumpMap;
    bump->filename.setValue("B");
    object->addChild(bump);
    object->addChild(new SoBumpMapTransform);

    SoCoordinate3* coordinates = new SoCoordinate3;
    coordinates->point.setValues(0, 4, std::vector<SbVec3f>{{0, 0, 0}, {1, 0, 0}, {1, 1, 0}, {0, 1, 1e-3f}}.data());
    object->addChild(coordinates);
    SoNormal* normals = new SoNormal;
    normals->vector.setValues(0, 1, std::vector<SbVec3f>{{0, 0, 1}}.data());
    object->addChild(normals);
    SoNormalBinding* normalBinding = new SoNormalBinding;
    normalBinding->value = SoNormalBinding::PER_VERTEX_INDEXED;
    object->addChild(normalBinding);
    SoTextureCoordinate2* uv = new SoTextureCoordinate2;
    uv->point.setValues(0, 3, std::vector<SbVec2f>{{0, 0}, {1, 0}, {0.5f, 1}}.data());
    object->addChild(uv);
    SoTextureCoordinateBinding* uvBinding = new SoTextureCoordinateBinding;
    uvBinding->value = SoTextureCoordinateBinding::PER_VERTEX_INDEXED;
    object->addChild(uvBinding);
    SoIndexedFaceSet* faces = new SoIndexedFaceSet;
    faces->setName("Faces");
    faces->coordIndex.setValues(0, 8, std::vector<int32_t>{0, 1, 2, -1, 0, 2, 3, -1}.data());
    faces->normalIndex.setValues(0, 8, std::vector<int32_t>{0, 0, 0, -1, 0, 0, 0, -1}.data());
    faces->textureCoordIndex.setValues(0, 1, std::vector<int32_t>{2}.data());
    faces->materialIndex.setNum(0);
    object->addChild(faces);
    // The same nodes again: USE references.
    root->addChild(object);
    root->addChild(faces);

    SoInfo* info = new SoInfo;
    info->string.setValue(stringOfLength(255));
    root->addChild(info);
    SoText2* text = new SoText2;
    for (int length = 0; length <= 4; ++length) text->string.set1Value(length, stringOfLength(size_t(length)));
    root->addChild(text);
    return root;
}

class BinaryScenesTest : public ::testing::Test {
protected:
    void SetUp() override {
        previousDirectory = fs::current_path();
        const fs::path directory =
            fs::path(scratchDirectory()) / ("binary-" + std::string(testing::UnitTest::GetInstance()->current_test_info()->name()));
        fs::create_directories(directory);
        fs::current_path(directory);
        ASSERT_TRUE(corpusIsThere());
        for (const char* name : {"TEST.PNG", "IMAGE1.JPG", "IMAGE2.JPG", "CWALL02.JPG"})
            fs::copy_file(fs::path(corpusFolder()) / "test.png", name, fs::copy_options::overwrite_existing);
    }
    void TearDown() override { fs::current_path(previousDirectory); }

    // The scene written by Coin and by BinarySceneOutput must be the same
    // file.
    void expectSameBinaryFile(SoNode* root, const std::string& what) {
        SCOPED_TRACE(what);
        std::string failure;
        ASSERT_TRUE(writeSceneWithCoinOutput(root, "coin.iv", failure, SceneFormat::Binary)) << failure;
        ASSERT_TRUE(writeScene(root, "ours.iv", failure, SceneFormat::Binary)) << failure;
        const std::string coin = readTextFile("coin.iv"), ours = readTextFile("ours.iv");
        EXPECT_GT(coin.size(), 100u);
        EXPECT_TRUE(coin == ours) << differenceAt(coin, ours);
    }

    // Read back by Coin, the binary scene must be the one the ASCII text
    // holds. Both are read back and written again as ASCII: rotations pass
    // from quaternions to axis and angle and back in either form, so neither
    // is the original text to the last digit.
    void expectReadBackAsTheAsciiScene(SoNode* root, const std::string& what) {
        SCOPED_TRACE(what);
        std::string failure;
        ASSERT_TRUE(writeScene(root, "binary.iv", failure, SceneFormat::Binary)) << failure;
        ASSERT_TRUE(writeScene(root, "ascii.iv", failure)) << failure;
        const std::string binary = readTextFile("binary.iv"), ascii = readTextFile("ascii.iv");
        SoSeparator* fromBinary = readSceneText(binary);
        ASSERT_NE(fromBinary, nullptr) << "Coin cannot read the binary scene";
        SoSeparator* fromAscii = readSceneText(ascii);
        ASSERT_NE(fromAscii, nullptr) << "Coin cannot read the ASCII scene";
        ASSERT_TRUE(writeScene(fromBinary, "binary-again.iv", failure)) << failure;
        ASSERT_TRUE(writeScene(fromAscii, "ascii-again.iv", failure)) << failure;
        fromBinary->unref();
        fromAscii->unref();
        const std::string binaryAgain = readTextFile("binary-again.iv"), asciiAgain = readTextFile("ascii-again.iv");
        EXPECT_GT(asciiAgain.size(), 100u);
        EXPECT_TRUE(binaryAgain == asciiAgain) << "read back, the binary scene differs from the ASCII one: "
                                               << differenceAt(asciiAgain, binaryAgain);
    }

    void expectSameBinaryFileOfModel(const std::string& model, bool noTextures) {
        Options options;
        options.noTextures = noTextures;
        options.lineWidths = [] { return LineWidthRange{1.0f, 10.0f}; };
        SceneConverter converter(options);
        converter.read(model);
        SoSeparator* root = converter.build();
        expectSameBinaryFile(root, model + (noTextures ? " with -t" : ""));
        expectReadBackAsTheAsciiScene(root, model + (noTextures ? " with -t" : ""));
    }

    fs::path previousDirectory;
};

TEST_F(BinaryScenesTest, SceneWithEveryFieldKindEngineCameraAndLight) {
    SoSeparator* root = everyFieldScene(true);
    expectSameBinaryFile(root, "every field kind");
    // The scene must really hold what it is meant to exercise.
    const std::string coin = readTextFile("coin.iv");
    for (const char* word : {"DEF", "USE", "TimeCounter", "SelectOne", "MFMatrix", "MFInt32", "SpotLight",
                             "PerspectiveCamera", "Environment", "Object_1"})
        EXPECT_NE(coin.find(word), std::string::npos) << word;
    root->unref();

    root = everyFieldScene(false);
    expectSameBinaryFile(root, "every field kind but SelectOne");
    expectReadBackAsTheAsciiScene(root, "every field kind but SelectOne");
    root->unref();
}

TEST_F(BinaryScenesTest, EveryCorpusModelWithAndWithoutTextures) {
    int models = 0;
    for (const auto& entry : fs::directory_iterator(corpusFolder())) {
        std::string extension = entry.path().extension().string();
        for (char& c : extension) c = char(std::tolower(static_cast<unsigned char>(c)));
        if (extension != ".3ds") continue;
        const std::string copy = entry.path().filename().string();
        fs::copy_file(entry.path(), copy, fs::copy_options::overwrite_existing);
        for (int noTextures : {0, 1}) expectSameBinaryFileOfModel((fs::current_path() / copy).string(), noTextures);
        ++models;
    }
    EXPECT_GE(models, 9);
}

// The array nodes whose values go out as whole arrays, full, empty and
// default, beside those Coin must write itself: named, shared (DEF and USE),
// with an ignored field, a field connected from another, and the node of a
// field another is connected from, which Coin names though it has one parent.
TEST_F(BinaryScenesTest, ArrayNodesWrittenWholeOrLeftToCoin) {
    SoSeparator* root = new SoSeparator;
    root->ref();
    std::vector<SbVec3f> points(1001);
    std::vector<int32_t> indices(4000);
    for (size_t i = 0; i < points.size(); ++i) points[i].setValue(float(i) / 3, -float(i), 1e-3f * float(i % 5));
    for (size_t i = 0; i < indices.size(); ++i) indices[i] = i % 4 == 3 ? -1 : int32_t(i / 4 + i % 4);
    SoCoordinate3 *full = new SoCoordinate3, *named = new SoCoordinate3;
    full->point.setValues(0, int(points.size()), points.data());
    named->point.setValues(0, 5, points.data());
    named->setName("Named");
    SoNormal *empty = new SoNormal, *shared = new SoNormal;
    empty->vector.setNum(0);
    shared->vector.setValues(0, 2, points.data());
    SoTextureCoordinate2 *uv = new SoTextureCoordinate2, *ignored = new SoTextureCoordinate2;
    uv->point.setValues(0, 2, std::vector<SbVec2f>{{0, 0.5f}, {1, -0.25f}}.data());
    ignored->point.setValues(0, 1, std::vector<SbVec2f>{{0.25f, 0.75f}}.data());
    ignored->point.setIgnored(TRUE);
    SoIndexedFaceSet *faces = new SoIndexedFaceSet, *withVertices = new SoIndexedFaceSet,
                     *connected = new SoIndexedFaceSet;
    faces->coordIndex.setValues(0, int(indices.size()), indices.data());
    faces->normalIndex.setValues(0, int(indices.size()), indices.data());
    faces->textureCoordIndex.setValues(0, 2, std::vector<int32_t>{2, -7}.data());
    withVertices->coordIndex.setValues(0, 8, indices.data());
    withVertices->vertexProperty = new SoVertexProperty;
    connected->coordIndex.connectFrom(&faces->coordIndex);
    for (SoNode* node : std::vector<SoNode*>{full, named, empty, uv, ignored, faces, withVertices, connected})
        root->addChild(node);
    for (int i = 0; i < 2; ++i) {
        SoSeparator* part = new SoSeparator;
        part->addChild(shared);
        root->addChild(part);
    }
    expectSameBinaryFile(root, "array nodes");
    const std::string coin = readTextFile("coin.iv");
    for (const char* word : {"DEF", "USE", "Named"}) EXPECT_NE(coin.find(word), std::string::npos) << word;
    root->unref();
}

// Several blocks of points, normals and indices.
TEST_F(BinaryScenesTest, MeshAtTheSixteenBitLimits) {
    expectSameBinaryFileOfModel(writeScratchFile("limit.3ds", limitMeshModel("TEST.PNG")), 0);
}

}  // namespace
