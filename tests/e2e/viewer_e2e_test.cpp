#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/e2e/KestravRun.h"
#include "tests/e2e/Screenshot.h"
#include "tests/e2e/XvfbServer.h"
#include "tools/writer/ModelChunks.h"

using namespace kestrav;

namespace {

const double kWindowTimeout = 60;
// How long the first frame may take to show the model.
const double kFrameTimeout = 20;

// The examiner draws its axis feedback inside this many pixels of the drawing
// area's bottom-right corner; the model is counted outside that square.
const int kFeedbackCorner = 100;
// The viewer's background is black; a channel above this is something drawn.
const int kBackgroundLevel = 24;
const long kAxisPixels = 10;

// Lighting scales a textured surface's colour, so colours are compared by
// their proportions: the red and green shares of the sum, in steps of 1/32.
const int kChromaSteps = 32;

int chromaKey(const unsigned char* p) {
    const int sum = p[0] + p[1] + p[2];
    return (p[0] * kChromaSteps / sum) * (kChromaSteps + 1) + p[1] * kChromaSteps / sum;
}

// At least half as far from grey as it can be: not white, grey or black text.
bool saturated(const unsigned char* p, int minimumBrightness) {
    const int high = std::max({p[0], p[1], p[2]});
    const int low = std::min({p[0], p[1], p[2]});
    return high >= minimumBrightness && (high - low) * 2 >= high;
}

// The colour proportions of the image's strong colours, each widened by one step.
std::vector<bool> saturatedColours(const RgbImage& image) {
    const int side = kChromaSteps + 1;
    std::vector<bool> palette(side * side, false);
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            if (!saturated(image.at(x, y), 96)) continue;
            const int key = chromaKey(image.at(x, y));
            for (int dr = -1; dr <= 1; ++dr)
                for (int dg = -1; dg <= 1; ++dg) {
                    const int r = key / side + dr, g = key % side + dg;
                    if (r >= 0 && r < side && g >= 0 && g < side) palette[r * side + g] = true;
                }
        }
    return palette;
}

// The axes are one strong channel over two equal weak ones (0x802020 and so on).
int axisColour(const unsigned char* p) {
    for (int c = 0; c < 3; ++c) {
        const int a = p[(c + 1) % 3], b = p[(c + 2) % 3];
        if (p[c] >= 0x60 && a * 2 <= p[c] && b * 2 <= p[c] && std::abs(a - b) <= 16) return c;
    }
    return -1;
}

struct ViewPixels {
    int width = 0;
    int height = 0;
    long model = 0;            // drawn pixels outside the feedback corner
    long textureColoured = 0;  // of those, in a colour of the texture image
    long axis[3] = {0, 0, 0};  // red, green and blue pixels in the feedback corner
};

ViewPixels countPixels(const RgbImage& image, const std::vector<bool>& palette) {
    ViewPixels seen;
    seen.width = image.width;
    seen.height = image.height;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            const unsigned char* p = image.at(x, y);
            if (x >= image.width - kFeedbackCorner && y >= image.height - kFeedbackCorner) {
                const int axis = axisColour(p);
                if (axis >= 0) ++seen.axis[axis];
            } else if (std::max({p[0], p[1], p[2]}) > kBackgroundLevel) {
                ++seen.model;
                if (saturated(p, 48) && palette[chromaKey(p)]) ++seen.textureColoured;
            }
        }
    return seen;
}

bool modelAndAxesShown(const ViewPixels& seen) {
    return seen.model >= long(seen.width) * seen.height / 10 && seen.axis[0] >= kAxisPixels &&
           seen.axis[1] >= kAxisPixels && seen.axis[2] >= kAxisPixels;
}

std::ostream& operator<<(std::ostream& out, const ViewPixels& seen) {
    return out << "drawing area " << seen.width << "x" << seen.height << ": " << seen.model << " model pixels, "
               << seen.textureColoured << " in the texture's colours; axis pixels red " << seen.axis[0] << ", green "
               << seen.axis[1] << ", blue " << seen.axis[2];
}

// The textured corpus cube in a directory of its own, with its image beside it
// under the given name (the model's is TEST.PNG), or without it.
std::string texturedCube(const std::string& name, const std::string& imageName) {
    const std::string directory = freshDirectory(name);
    const auto overwrite = std::filesystem::copy_options::overwrite_existing;
    std::filesystem::copy_file(corpusModel("cube_with_diffuse_texture.3DS"),
                               directory + "/cube_with_diffuse_texture.3DS", overwrite);
    if (!imageName.empty()) std::filesystem::copy_file(corpusModel("test.png"), directory + "/" + imageName, overwrite);
    return directory;
}

// A triangle in a wire material, whose line width comes from OpenGL.
std::string wireModel() {
    const Bytes bytes = model3ds({material("Wire", 0, {Chunk3ds(MAT_WIRESIZE).f32(50)}),
                                  meshObject("Tri", {pointArray({0, 0, 0, 1, 0, 0, 0, 1, 0}),
                                                     faceArray({{0, 1, 2}}, {materialGroup("Wire", {0})})})});
    return std::string(bytes.begin(), bytes.end());
}

// A cube whose +z side is red and the rest grey, stored where its first node
// places it, at x = -2.5; the second node of the same mesh mirrors it to
// x = +2.5. Facing the viewer's camera, both show the red side from outside.
std::string mirroredCubes() {
    const std::vector<float> corners = {-1, -1, -1, 1, -1, -1, -1, 1, -1, 1, 1, -1,
                                        -1, -1, 1,  1, -1, 1,  -1, 1, 1,  1, 1, 1};
    std::vector<float> stored;
    for (size_t i = 0; i < corners.size(); ++i) stored.push_back(corners[i] + (i % 3 == 0 ? -2.5f : 0.0f));
    const std::vector<Face> faces = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                                     {2, 6, 7}, {2, 7, 3}, {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};
    const Chunk3ds groups[] = {materialGroup("Front", {2, 3}),
                               materialGroup("Sides", {0, 1, 4, 5, 6, 7, 8, 9, 10, 11})};
    const Chunk3ds cube = meshObject("Cube", {pointArray(stored), faceArray(faces, {groups[0], groups[1]}),
                                              Chunk3ds(MESH_MATRIX).floats({1, 0, 0, 0, 1, 0, 0, 0, 1, -2.5f, 0, 0})});
    const Bytes file = model3ds(
        {material("Front", 2, {colour(MAT_DIFFUSE, 255, 0, 0)}),
         material("Sides", 2, {colour(MAT_DIFFUSE, 128, 128, 128)}), cube},
                 {objectNode(0, "Cube", kNoParent, {track(POS_TRACK_TAG, {{-2.5f, 0, 0}})}),
                  objectNode(1, "Cube", kNoParent,
                             {track(POS_TRACK_TAG, {{2.5f, 0, 0}}), track(SCL_TRACK_TAG, {{-1, 1, 1}})})});
    const std::string path = freshDirectory("mirrored") + "/cubes.3ds";
    writeFile(path, std::string(file.begin(), file.end()));
    return path;
}

// A white plane of 40 x 40 squares, wide enough to fill the view, seen by the
// file's camera from above and lit only by a narrow spotlight aimed at its
// middle; the squares are small so per-vertex lighting shows the spot.
std::string spotlitPlane() {
    const int n = 40;
    const float size = 400.0f;
    std::vector<float> points;
    for (int j = 0; j <= n; ++j)
        for (int i = 0; i <= n; ++i) points.insert(points.end(), {size * (float(i) / n - 0.5f), size * (float(j) / n - 0.5f), 0});
    std::vector<Face> faces;
    for (int j = 0; j < n; ++j)
        for (int i = 0; i < n; ++i) {
            const uint16_t a = uint16_t(j * (n + 1) + i), b = uint16_t(a + 1), c = uint16_t(a + n + 1), d = uint16_t(c + 1);
            faces.push_back({a, b, d});
            faces.push_back({a, d, c});
        }
    const Chunk3ds plane = meshObject("Plane", {pointArray(points),
                                                faceArray(faces, {materialGroup("White", faceRange(0, uint32_t(faces.size()))),
                                                                  smoothGroup(std::vector<uint32_t>(faces.size(), 1))})});
    const Bytes file = model3ds({material("White", 2, {colour(MAT_DIFFUSE, 255, 255, 255)}), plane,
                                 namedObject("View", {camera({0, -40, 120}, {0, 0, 0}, 0, 35)}),
                                 namedObject("Spot", {omniLight({0, 0, 60}, {spotlight({0, 0, 0}, 20, 40)})})});
    const std::string path = freshDirectory("spotlit") + "/plane.3ds";
    writeFile(path, std::string(file.begin(), file.end()));
    return path;
}

// A green cube that stays at x = -2.5 and a red one at x = +2.5 that slides
// from y = 1.5 down to y = -1.5 over frames 0 to 60, two seconds a pass.
std::string slidingCube() {
    const std::vector<float> corners = {-1, -1, -1, 1, -1, -1, -1, 1, -1, 1, 1, -1,
                                        -1, -1, 1,  1, -1, 1,  -1, 1, 1,  1, 1, 1};
    const std::vector<Face> faces = {{0, 2, 3}, {0, 3, 1}, {4, 5, 7}, {4, 7, 6}, {0, 1, 5}, {0, 5, 4},
                                     {2, 6, 7}, {2, 7, 3}, {0, 4, 6}, {0, 6, 2}, {1, 3, 7}, {1, 7, 5}};
    auto cube = [&](const char* name, const char* paint, float x) {
        std::vector<float> stored;
        for (size_t i = 0; i < corners.size(); ++i) stored.push_back(corners[i] + (i % 3 == 0 ? x : 0.0f));
        return meshObject(name, {pointArray(stored), faceArray(faces, {materialGroup(paint, faceRange(0, 12))}),
                                 meshMatrix({1, 0, 0, 0, 1, 0, 0, 0, 1, x, 0, 0})});
    };
    const Bytes file = model3ds(
        {material("Red", 2, {colour(MAT_DIFFUSE, 255, 0, 0)}), material("Green", 2, {colour(MAT_DIFFUSE, 0, 200, 0)}),
         cube("Still", "Green", -2.5f), cube("Mover", "Red", 2.5f)},
        {Chunk3ds(KFSEG).u32(0).u32(60), objectNode(0, "Still", kNoParent, {track(POS_TRACK_TAG, {{-2.5f, 0, 0}})}),
         objectNode(1, "Mover", kNoParent,
                    {splineTrack(POS_TRACK_TAG, {{0, {2.5f, 1.5f, 0}}, {60, {2.5f, -1.5f, 0}}})})});
    const std::string path = freshDirectory("sliding") + "/sliding.3ds";
    writeFile(path, std::string(file.begin(), file.end()));
    return path;
}

int brightness(const unsigned char* p) { return p[0] + p[1] + p[2]; }

bool strongRed(const unsigned char* p) { return p[0] >= 96 && p[1] * 3 <= p[0] && p[2] * 3 <= p[0]; }

// Strong red pixels in the left and right halves of the drawing area, outside
// the axis feedback's corner.
void countRed(const RgbImage& image, long& left, long& right) {
    left = right = 0;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x) {
            if (x >= image.width - kFeedbackCorner && y >= image.height - kFeedbackCorner) continue;
            if (strongRed(image.at(x, y))) ++(x < image.width / 2 ? left : right);
        }
}

// A box from low to high corner whose -Y side, its front, is red and the rest grey.
std::string markedBox(const std::string& name, float x0, float y0, float z0, float x1, float y1, float z1) {
    const std::vector<float> corners = {x0, y0, z0, x1, y0, z0, x1, y1, z0, x0, y1, z0,
                                        x0, y0, z1, x1, y0, z1, x1, y1, z1, x0, y1, z1};
    const std::vector<Face> faces = {{0, 2, 1}, {0, 3, 2}, {4, 5, 6}, {4, 6, 7}, {0, 1, 5}, {0, 5, 4},
                                     {3, 7, 6}, {3, 6, 2}, {1, 2, 6}, {1, 6, 5}, {0, 4, 7}, {0, 7, 3}};
    const Bytes file = model3ds(
        {material("Front", 2, {colour(MAT_DIFFUSE, 255, 0, 0)}),
         material("Sides", 2, {colour(MAT_DIFFUSE, 160, 160, 160)}),
         meshObject("Box", {pointArray(corners), faceArray(faces, {materialGroup("Front", {4, 5}),
                                                                   materialGroup("Sides", {0, 1, 2, 3, 6, 7, 8, 9, 10, 11})})})});
    const std::string path = freshDirectory("marked") + "/" + name;
    writeFile(path, std::string(file.begin(), file.end()));
    return path;
}

// Pixels that differ between two captures of the same size.
long differingPixels(const RgbImage& a, const RgbImage& b) {
    if (a.width != b.width || a.height != b.height) return long(a.width) * a.height + 1;
    long differing = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width; ++x) {
            const unsigned char *p = a.at(x, y), *q = b.at(x, y);
            if (std::abs(p[0] - q[0]) + std::abs(p[1] - q[1]) + std::abs(p[2] - q[2]) > 24) ++differing;
        }
    return differing;
}

class ViewerE2e : public testing::Test {
protected:
    static void SetUpTestSuite() { server = new XvfbServer; }
    static void TearDownTestSuite() {
        delete server;
        server = nullptr;
    }
    void SetUp() override { ASSERT_TRUE(server->running()) << "Xvfb could not be started"; }

    LaunchOptions withDisplay(const std::vector<std::string>& arguments) {
        return onDisplay(kestravCommand(arguments), server->displayName());
    }

    // Polls until the process shows its window, ends, or the time is up.
    TopLevelWindow waitForWindow(ChildProcess& process) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kWindowTimeout);
        while (std::chrono::steady_clock::now() < deadline && !process.finished()) {
            const TopLevelWindow window = server->findWindow(process.pid());
            if (window.id) return window;
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return TopLevelWindow();
    }

    // Captures the drawing area until the model and the axes are there or the
    // time is up, and counts what the last capture shows.
    ViewPixels waitForModel(const TopLevelWindow& window, const std::vector<bool>& palette) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kFrameTimeout);
        ViewPixels seen;
        while (std::chrono::steady_clock::now() < deadline) {
            const RgbImage image = captureDrawingArea(server->displayName(), window.id);
            if (!image.empty()) seen = countPixels(image, palette);
            if (modelAndAxesShown(seen)) break;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        return seen;
    }

    // Gives the window the keyboard focus and types the keys (xdotool's
    // names, between spaces) through XTEST, as a person at the keyboard does.
    void press(const TopLevelWindow& window, const std::string& keys) {
        LaunchOptions xdotool;
        xdotool.argv = {XDOTOOL, "windowfocus", "--sync", std::to_string(window.id), "key", "--delay", "50"};
        std::istringstream names(keys);
        for (std::string name; names >> name;) xdotool.argv.push_back(name);
        xdotool.setVariables = {{"DISPLAY", server->displayName()}};
        const ProcessResult r = runProcess(xdotool, kWindowTimeout);
        EXPECT_EQ(r.exitStatus, 0) << "xdotool key " << keys << ": " << r.err;
    }

    // Polls the process's window until its title is the given one or the time is up.
    TopLevelWindow waitForTitle(ChildProcess& process, const std::string& title) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kFrameTimeout);
        TopLevelWindow window = server->findWindow(process.pid());
        while (window.title != title && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(50));
            window = server->findWindow(process.pid());
        }
        return window;
    }

    // Captures until the drawing area has its 4:3 shape and strong red covers
    // the given share of it, or the time is up.
    RgbImage waitForRed(const TopLevelWindow& window, int shareDivisor) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kFrameTimeout);
        RgbImage image;
        while (std::chrono::steady_clock::now() < deadline) {
            image = captureDrawingArea(server->displayName(), window.id);
            long left = 0, right = 0;
            countRed(image, left, right);
            if (!image.empty() && std::abs(image.width * 3 - image.height * 4) <= 4 &&
                (left + right) * shareDivisor >= long(image.width) * image.height)
                break;
            std::this_thread::sleep_for(std::chrono::milliseconds(250));
        }
        return image;
    }

    // Captures until a capture shows what is waited for or the time is up, and
    // gives the last one: a loaded machine may take a while to draw a change.
    template <class Shows>
    RgbImage captureUntil(const TopLevelWindow& window, Shows shows) {
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kFrameTimeout);
        RgbImage image = captureDrawingArea(server->displayName(), window.id);
        while (!shows(image) && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
            image = captureDrawingArea(server->displayName(), window.id);
        }
        return image;
    }

    // Closes the viewer with the keys, and checks that it ends well.
    void closeWith(ChildProcess& process, const TopLevelWindow& window, const std::string& keys) {
        press(window, keys);
        const ProcessResult r = process.wait(kWindowTimeout);
        EXPECT_FALSE(r.timedOut) << keys << " did not close the viewer";
        EXPECT_EQ(r.exitStatus, 0) << r.err;
    }

    static void expectExaminerViewer(const TopLevelWindow& window) {
        EXPECT_EQ(window.title, "kestrav \u2014 cube.3ds");
        EXPECT_GT(window.childCount, 0) << "no viewer inside the main window";
        EXPECT_GE(window.width, 100);
        EXPECT_GE(window.height, 100);
        EXPECT_TRUE(window.acceptsDelete);
    }

    static XvfbServer* server;
};

XvfbServer* ViewerE2e::server = nullptr;

TEST_F(ViewerE2e, ViewOnlyShowsTheViewerWritesNothingAndEndsWhenClosed) {
    for (const char* flags : {"-v", "-ev"}) {
        const std::string out = freshDirectory("view-only") + "/scene" + flags + ".iv";
        ChildProcess process(withDisplay({flags, exampleModel(), out}));
        const TopLevelWindow window = waitForWindow(process);
        ASSERT_NE(window.id, 0u) << flags << ": no window appeared";
        expectExaminerViewer(window);
        EXPECT_FALSE(fileExists(out)) << flags;

        server->requestClose(window.id);
        const ProcessResult r = process.wait(kWindowTimeout);
        EXPECT_FALSE(r.timedOut) << flags << ": still running after WM_DELETE_WINDOW";
        EXPECT_EQ(r.exitStatus, 0) << flags;
        EXPECT_EQ(r.out, "") << flags;
        EXPECT_FALSE(fileExists(out)) << flags;
    }
}

TEST_F(ViewerE2e, ExamineWritesTheSceneBeforeTheWindowAppears) {
    const std::string scene = runProcess(kestravCommand({exampleModel()})).out;
    ASSERT_NE(scene, "");
    const std::string out = freshDirectory("examine") + "/scene.iv";
    ChildProcess process(withDisplay({"-e", exampleModel(), out}));
    const TopLevelWindow window = waitForWindow(process);
    ASSERT_NE(window.id, 0u) << "no window appeared";
    EXPECT_EQ(readFile(out), scene) << "the scene was not complete when the window appeared";
    expectExaminerViewer(window);

    server->requestClose(window.id);
    const ProcessResult r = process.wait(kWindowTimeout);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(readFile(out), scene);
}

TEST_F(ViewerE2e, ViewerShowsTheTexturedModelAndTheAxesWithoutUserAction) {
    const RgbImage texture = readImageFile(corpusModel("test.png"));
    ASSERT_FALSE(texture.empty()) << "ImageMagick could not decode the texture image";
    const std::vector<bool> palette = saturatedColours(texture);
    for (const char* flags : {"-v", "-e"}) {
        LaunchOptions launch = withDisplay({flags, "cube_with_diffuse_texture.3DS", "scene.iv"});
        launch.workingDirectory = texturedCube(std::string("textured") + flags, "TEST.PNG");
        ChildProcess process(launch);
        const TopLevelWindow window = waitForWindow(process);
        ASSERT_NE(window.id, 0u) << flags << ": no window appeared";

        const ViewPixels seen = waitForModel(window, palette);
        std::cout << flags << ": " << seen << "\n";
        EXPECT_GE(seen.model, long(seen.width) * seen.height / 10) << flags << ": the model is missing; " << seen;
        EXPECT_GE(seen.textureColoured, seen.model / 2) << flags << ": the texture is missing; " << seen;
        for (long axis : seen.axis) EXPECT_GE(axis, kAxisPixels) << flags << ": an axis is missing; " << seen;

        server->requestClose(window.id);
        const ProcessResult r = process.wait(kWindowTimeout);
        EXPECT_FALSE(r.timedOut) << flags;
        EXPECT_EQ(r.exitStatus, 0) << flags;
        EXPECT_EQ(r.err, "") << flags;
    }
}

TEST_F(ViewerE2e, ViewerShowsTheImageFoundBesideTheModelFromAnotherFolder) {
    const RgbImage texture = readImageFile(corpusModel("test.png"));
    ASSERT_FALSE(texture.empty()) << "ImageMagick could not decode the texture image";
    const std::vector<bool> palette = saturatedColours(texture);
    const std::string model = texturedCube("lower-case-image", "test.png") + "/cube_with_diffuse_texture.3DS";
    // -e names the image from the scene's folder, which is not the current
    // directory's depth; -v from the current directory.
    const std::string scene = freshDirectory("viewer-out/deeper") + "/scene.iv";
    const std::pair<std::vector<std::string>, std::string> runs[] = {
        {{"-v", model}, "../lower-case-image/test.png"}, {{"-e", model, scene}, "../../lower-case-image/test.png"}};
    for (const auto& run : runs) {
        const std::string& flags = run.first[0];
        LaunchOptions launch = withDisplay(run.first);
        launch.workingDirectory = freshDirectory("viewer-elsewhere");
        ChildProcess process(launch);
        const TopLevelWindow window = waitForWindow(process);
        ASSERT_NE(window.id, 0u) << flags << ": no window appeared";

        const ViewPixels seen = waitForModel(window, palette);
        std::cout << flags << " from another folder: " << seen << "\n";
        EXPECT_TRUE(modelAndAxesShown(seen)) << flags << ": " << seen;
        EXPECT_GE(seen.textureColoured, seen.model / 2) << flags << ": the texture is missing; " << seen;

        server->requestClose(window.id);
        const ProcessResult r = process.wait(kWindowTimeout);
        EXPECT_FALSE(r.timedOut) << flags;
        EXPECT_EQ(r.exitStatus, 0) << flags;
        EXPECT_EQ(r.err, "Using \"" + run.second + "\" for texture file \"TEST.PNG\".\n") << flags;
    }
}

TEST_F(ViewerE2e, ViewerShowsTheModelUntexturedWhenItsImageIsMissing) {
    const RgbImage texture = readImageFile(corpusModel("test.png"));
    ASSERT_FALSE(texture.empty()) << "ImageMagick could not decode the texture image";
    const std::vector<bool> palette = saturatedColours(texture);
    LaunchOptions launch = withDisplay({"-v", "cube_with_diffuse_texture.3DS"});
    launch.workingDirectory = texturedCube("untextured", "");
    ChildProcess process(launch);
    const TopLevelWindow window = waitForWindow(process);
    ASSERT_NE(window.id, 0u) << "no window appeared";

    const ViewPixels seen = waitForModel(window, palette);
    std::cout << "without the image: " << seen << "\n";
    EXPECT_TRUE(modelAndAxesShown(seen)) << seen;
    EXPECT_LE(seen.textureColoured, seen.model / 50) << seen;

    server->requestClose(window.id);
    const ProcessResult r = process.wait(kWindowTimeout);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 0);
    EXPECT_EQ(r.err, "Cannot find texture file \"TEST.PNG\".\n");
}

// A plain conversion never starts the GUI toolkit, which would create windows
// even without showing one; a wire material still asks OpenGL on the display.
TEST_F(ViewerE2e, PlainConversionWithDisplayCreatesNoWindowAndMatchesNoDisplay) {
    const std::string wire = freshDirectory("wire") + "/wire.3ds";
    writeFile(wire, wireModel());
    for (const std::string& model : {exampleModel(), corpusModel("test1.3ds"), emptyModel(), wire}) {
        const ProcessResult without = runProcess(kestravCommand({model}));
        server->watchWindowCreation();
        const ProcessResult with = runProcess(withDisplay({model}), kWindowTimeout);
        EXPECT_EQ(server->windowsCreated(), 0) << model;
        EXPECT_FALSE(with.timedOut) << model;
        EXPECT_EQ(with.exitStatus, 0) << model;
        EXPECT_EQ(without.exitStatus, 0) << model;
        EXPECT_EQ(with.out, without.out) << model;
        EXPECT_EQ(with.err, without.err) << model;
    }
}

TEST_F(ViewerE2e, MirroredCopyShowsItsOutsideWithBackFacesCulled) {
    // Solid shapes are drawn with back faces culled: a copy drawn inside out
    // would show the inside of its grey far side instead of its red near side.
    ChildProcess process(withDisplay({"-v", mirroredCubes()}));
    const TopLevelWindow window = waitForWindow(process);
    ASSERT_NE(window.id, 0u) << "no window appeared";

    long left = 0, right = 0;
    int width = 0, height = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kFrameTimeout);
    while (std::chrono::steady_clock::now() < deadline) {
        const RgbImage image = captureDrawingArea(server->displayName(), window.id);
        width = image.width;
        height = image.height;
        if (!image.empty()) countRed(image, left, right);
        if (left > long(width) * height / 100 && right > long(width) * height / 100) break;
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    std::cout << "red pixels: original " << left << ", mirrored copy " << right << " of " << width << "x" << height
              << "\n";
    // The first view looks from the right, where the copy stands nearer.
    EXPECT_GT(left, long(width) * height / 100) << "the original's red side is missing";
    EXPECT_GT(right, long(width) * height / 100) << "the mirrored copy's red side is missing";
    EXPECT_GT(right, left / 3);
    EXPECT_GT(left, right / 3);

    server->requestClose(window.id);
    const ProcessResult r = process.wait(kWindowTimeout);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 0);
}

TEST_F(ViewerE2e, AnimatedPartMovesOnTheClockAndTheStillPartStays) {
    for (const char* flags : {"-av", "-ae"}) {
        const std::string model = slidingCube();
        ChildProcess process(withDisplay({flags, model, model + ".iv"}));
        const TopLevelWindow window = waitForWindow(process);
        ASSERT_NE(window.id, 0u) << flags << ": no window appeared";

        // Captures until two, taken at different times, show the red cube at
        // heights a tenth of the view apart.
        auto redHeight = [](const RgbImage& image, long& count) {
            long sum = 0;
            count = 0;
            for (int y = 0; y < image.height; ++y)
                for (int x = image.width / 2; x < image.width; ++x)
                    if (strongRed(image.at(x, y))) sum += y, ++count;
            return count > 0 ? double(sum) / double(count) : -1.0;
        };
        RgbImage first, second;
        double firstHeight = -1.0, secondHeight = -1.0;
        const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kFrameTimeout);
        while (std::chrono::steady_clock::now() < deadline && second.empty()) {
            const RgbImage image = captureDrawingArea(server->displayName(), window.id);
            long red = 0;
            const double height = image.empty() ? -1.0 : redHeight(image, red);
            if (red > long(image.width) * image.height / 100) {
                if (first.empty()) {
                    first = image;
                    firstHeight = height;
                } else if (std::fabs(height - firstHeight) > image.height / 10.0 && image.width == first.width &&
                           image.height == first.height) {
                    second = image;
                    secondHeight = height;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(100));
        }
        std::cout << flags << ": red cube's mean row " << firstHeight << ", then " << secondHeight << "\n";
        ASSERT_FALSE(second.empty()) << flags << ": the red cube did not move";

        // The left half, where the green cube stands still, is the same in both.
        long green = 0, differing = 0;
        for (int y = 0; y < first.height; ++y)
            for (int x = 0; x < first.width * 2 / 5; ++x) {
                const unsigned char *a = first.at(x, y), *b = second.at(x, y);
                if (a[1] >= 96 && a[0] * 3 <= a[1]) ++green;
                if (std::abs(a[0] - b[0]) + std::abs(a[1] - b[1]) + std::abs(a[2] - b[2]) > 24) ++differing;
            }
        EXPECT_GT(green, long(first.width) * first.height / 100) << flags << ": the green cube is missing";
        EXPECT_LE(differing, green / 100) << flags << ": the still part changed";

        server->requestClose(window.id);
        const ProcessResult r = process.wait(kWindowTimeout);
        EXPECT_FALSE(r.timedOut);
        EXPECT_EQ(r.exitStatus, 0) << r.err;
    }
}

TEST_F(ViewerE2e, HelpAndBadLinesEndBeforeAnyWindow) {
    const ProcessResult help = runProcess(withDisplay({"-h"}), kWindowTimeout);
    EXPECT_EQ(help.exitStatus, 0);
    EXPECT_EQ(help.out, kUsageText);
    const ProcessResult bad = runProcess(withDisplay({"-e"}), kWindowTimeout);
    EXPECT_EQ(bad.exitStatus, 2);
    EXPECT_EQ(bad.err, std::string("kestrav: no input file\n") + kUsageText);
    const ProcessResult unreadable = runProcess(withDisplay({"-e", "/nonexistent/model.3ds"}), kWindowTimeout);
    EXPECT_EQ(unreadable.exitStatus, 1);
    EXPECT_EQ(unreadable.err,
              kCannotReadText + std::string("Cannot read \"/nonexistent/model.3ds\": No such file or directory\n"));
}

TEST_F(ViewerE2e, UnwritableOutputEndsTheRunWithoutTheViewer) {
    const std::string out = scratchDirectory() + "/no/such/directory/scene.iv";
    const ProcessResult r = runProcess(withDisplay({"-e", exampleModel(), out}), kWindowTimeout);
    EXPECT_FALSE(r.timedOut) << "the viewer was shown";
    EXPECT_EQ(r.exitStatus, 1);
    EXPECT_EQ(r.err, "Cannot write the scene to \"" + out + "\": No such file or directory\n");
}

TEST_F(ViewerE2e, FirstViewShowsATallPoleUprightInAFourThirdsWindowThatFitsTheScreen) {
    ChildProcess process(withDisplay({"-v", markedBox("pole.3ds", -0.5f, -0.5f, 0, 0.5f, 0.5f, 20)}));
    ASSERT_NE(waitForWindow(process).id, 0u) << "no window appeared";
    TopLevelWindow window = waitForTitle(process, "kestrav \u2014 pole.3ds");
    EXPECT_EQ(window.title, "kestrav \u2014 pole.3ds");
    const RgbImage image = waitForRed(window, 200);
    ASSERT_FALSE(image.empty());
    // Three quarters of the 1024 x 768 screen's height.
    window = server->findWindow(process.pid());
    std::cout << "window " << window.width << "x" << window.height << ", drawing area " << image.width << "x"
              << image.height << "\n";
    EXPECT_NEAR(window.height, 576, 4);
    EXPECT_LE(window.width, 1024);
    EXPECT_NEAR(image.width * 3, image.height * 4, 4);

    // Seen from above, a pole along Z is a small square.
    int top = image.height, bottom = -1, left = image.width, right = -1;
    for (int y = 0; y < image.height; ++y)
        for (int x = 0; x < image.width; ++x)
            if (strongRed(image.at(x, y)) && (x < image.width - kFeedbackCorner || y < image.height - kFeedbackCorner)) {
                top = std::min(top, y), bottom = std::max(bottom, y);
                left = std::min(left, x), right = std::max(right, x);
            }
    std::cout << "pole: " << right - left + 1 << " wide, " << bottom - top + 1 << " tall\n";
    EXPECT_GT(bottom - top + 1, 4 * (right - left + 1));
    EXPECT_GT(bottom - top + 1, image.height / 2) << "the pole does not fill the view";
    closeWith(process, window, "ctrl+q");
}

TEST_F(ViewerE2e, FirstViewShowsTheFrontFromTheRightAtEveryScaleAndHomeComesBack) {
    for (const float size : {1.0f, 1e-6f, 1e7f}) {
        ChildProcess process(withDisplay({"-v", markedBox("box.3ds", -size, -size, -size, size, size, size)}));
        const TopLevelWindow window = waitForWindow(process);
        ASSERT_NE(window.id, 0u) << size << ": no window appeared";
        const RgbImage first = waitForRed(window, 20);
        long left = 0, right = 0;
        countRed(first, left, right);
        std::cout << "box of half-side " << size << ": red front " << left << " pixels left, " << right << " right\n";
        // Not black from clipping, and seen from the right of the front.
        EXPECT_GE((left + right) * 20, long(first.width) * first.height) << size << ": the front is missing";
        EXPECT_GT(left, right) << size;

        press(window, "Left Left Up");
        const RgbImage moved =
            captureUntil(window, [&](const RgbImage& now) { return differingPixels(first, now) > 1000; });
        EXPECT_GT(differingPixels(first, moved), 1000) << size << ": the arrow keys did not move the camera";
        press(window, "Home");
        const RgbImage home =
            captureUntil(window, [&](const RgbImage& now) { return differingPixels(first, now) <= 10; });
        EXPECT_LE(differingPixels(first, home), 10) << size << ": Home did not come back to the first view";
        closeWith(process, window, "q");
    }
}

TEST_F(ViewerE2e, EmptySceneOpensAndCloses) {
    ChildProcess process(withDisplay({"-v", emptyModel()}));
    const TopLevelWindow window = waitForWindow(process);
    ASSERT_NE(window.id, 0u) << "no window appeared";
    EXPECT_EQ(waitForTitle(process, "kestrav \u2014 empty.3ds").title, "kestrav \u2014 empty.3ds");
    closeWith(process, window, "q");
}

TEST_F(ViewerE2e, KeysPauseStepRewindAndResumeTheRotatingCube) {
    ChildProcess process(withDisplay({"-av", corpusModel("RotatingCube.3DS")}));
    const TopLevelWindow window = waitForWindow(process);
    ASSERT_NE(window.id, 0u) << "no window appeared";
    const std::string title = "kestrav \u2014 RotatingCube.3DS";
    const std::string pausedAt = title + " \u2014 frame ";
    auto framed = [&](int frame) { return pausedAt + std::to_string(frame) + " / 300"; };
    auto capture = [&] { return captureDrawingArea(server->displayName(), window.id); };

    press(window, "space");
    TopLevelWindow shown = window;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kFrameTimeout);
    while (shown.title.compare(0, pausedAt.size(), pausedAt) != 0 && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
        shown = server->findWindow(process.pid());
    }
    ASSERT_EQ(shown.title.compare(0, pausedAt.size(), pausedAt), 0) << shown.title;
    const int frame = std::atoi(shown.title.c_str() + pausedAt.size());
    // A frame drawn just before the pause may still be on its way: the paused
    // view is the first that stays as it is for 300 ms.
    RgbImage paused = capture();
    const auto settled = std::chrono::steady_clock::now() + std::chrono::duration<double>(kFrameTimeout);
    while (std::chrono::steady_clock::now() < settled) {
        std::this_thread::sleep_for(std::chrono::milliseconds(300));
        const RgbImage next = capture();
        if (differingPixels(paused, next) <= 10) break;
        paused = next;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(700));
    EXPECT_LE(differingPixels(paused, capture()), 10) << "the cube turned while paused";

    press(window, "period");
    EXPECT_EQ(waitForTitle(process, framed((frame + 1) % 301)).title, framed((frame + 1) % 301));
    const RgbImage stepped =
        captureUntil(window, [&](const RgbImage& now) { return differingPixels(paused, now) > 50; });
    EXPECT_GT(differingPixels(paused, stepped), 50) << "a step forward left the cube as it was";
    press(window, "comma");
    EXPECT_EQ(waitForTitle(process, framed(frame)).title, framed(frame));
    const RgbImage back =
        captureUntil(window, [&](const RgbImage& now) { return differingPixels(paused, now) <= 10; });
    EXPECT_LE(differingPixels(paused, back), 10) << "a step back did not show the paused frame again";
    press(window, "0 comma");
    EXPECT_EQ(waitForTitle(process, framed(300)).title, framed(300)) << "0 then , did not reach the last frame";

    press(window, "space");
    EXPECT_EQ(waitForTitle(process, title).title, title);
    const RgbImage playing = capture();
    const RgbImage later =
        captureUntil(window, [&](const RgbImage& now) { return differingPixels(playing, now) > 50; });
    EXPECT_GT(differingPixels(playing, later), 50) << "the cube stands still after resuming";
    closeWith(process, window, "q");
}

}  // namespace

TEST_F(ViewerE2e, FileSpotlightLightsThePlaneMiddleWithTheHeadlightOff) {
    ChildProcess process(withDisplay({"-lv", spotlitPlane()}));
    const TopLevelWindow window = waitForWindow(process);
    ASSERT_NE(window.id, 0u) << "no window appeared";

    int middle = 0, brightestCorner = 0;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::duration<double>(kFrameTimeout);
    while (std::chrono::steady_clock::now() < deadline) {
        const RgbImage image = captureDrawingArea(server->displayName(), window.id);
        if (!image.empty()) {
            const int w = image.width, h = image.height;
            middle = brightness(image.at(w / 2, h / 2));
            brightestCorner = 0;
            for (const int x : {w / 10, w - w / 4})
                for (const int y : {h / 10, h - h / 4}) brightestCorner = std::max(brightestCorner, brightness(image.at(x, y)));
            if (middle > 3 * kBackgroundLevel) break;
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(250));
    }
    std::cout << "brightness: middle " << middle << ", brightest corner " << brightestCorner << "\n";
    // The file's camera looks at the plane's middle, where the spot falls; a
    // headlight would light the corners as well.
    EXPECT_GT(middle, 3 * kBackgroundLevel);
    EXPECT_LT(brightestCorner, kBackgroundLevel);

    server->requestClose(window.id);
    const ProcessResult r = process.wait(kWindowTimeout);
    EXPECT_FALSE(r.timedOut);
    EXPECT_EQ(r.exitStatus, 0);
}

// The viewer is a module the program loads for -e and -v only. A program
// that cannot load it (missing, or not a module) says so in one line and
// fails instead of crashing; -e still writes its scene, and a plain
// conversion never needs the module.
TEST_F(ViewerE2e, AProgramWithoutItsViewerModuleSaysSoAndStillConverts) {
    const std::string folder = freshDirectory("no-viewer");
    const std::string program = folder + "/kestrav";
    copyProgram(program);
    auto run = [&](const std::vector<std::string>& arguments) {
        LaunchOptions launch = withDisplay(arguments);
        launch.argv[0] = program;
        return runProcess(launch, kWindowTimeout);
    };
    const ProcessResult plain = run({exampleModel(), folder + "/plain.iv"});
    EXPECT_EQ(plain.exitStatus, 0) << plain.err;
    EXPECT_EQ(plain.err, "");

    const std::string said = "The examine viewer could not be loaded: ";
    for (const bool damaged : {false, true}) {
        SCOPED_TRACE(damaged ? "damaged module" : "no module");
        if (damaged) writeFile(folder + "/kestrav-viewer.so", "not a shared object\n");
        const ProcessResult viewed = run({"-v", exampleModel()});
        EXPECT_EQ(viewed.exitStatus, 1);
        EXPECT_EQ(viewed.err.rfind(said, 0), 0u) << viewed.err;
        EXPECT_NE(viewed.err.find(damaged ? folder + "/kestrav-viewer.so" : "/kestrav-viewer.so"), std::string::npos);
        EXPECT_EQ(std::count(viewed.err.begin(), viewed.err.end(), '\n'), 1) << viewed.err;
        EXPECT_EQ(viewed.err.back(), '\n');

        const std::string examined = folder + "/examined.iv";
        const ProcessResult examine = run({"-e", exampleModel(), examined});
        EXPECT_EQ(examine.exitStatus, 1);
        EXPECT_EQ(examine.err, viewed.err);
        EXPECT_EQ(readFile(examined), readFile(folder + "/plain.iv"));
        std::filesystem::remove(examined);
    }
}
