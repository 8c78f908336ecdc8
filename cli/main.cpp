#include <Inventor/Qt/SoQt.h>
#include <Inventor/Qt/viewers/SoQtExaminerViewer.h>
#include <Inventor/SoDB.h>
#include <Inventor/nodes/SoCamera.h>
#include <Inventor/nodes/SoLight.h>
#include <Inventor/nodes/SoSeparator.h>
#include <X11/Xlib.h>

#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "appearance/TextureImages.h"
#include "appearance/TextureLookup.h"
#include "cli/BatchRun.h"
#include "cli/CommandLine.h"
#include "cli/ConverterOptions.h"
#include "cli/InterruptCleanup.h"
#include "convert/SceneConverter.h"
#include "convert/SceneWriter.h"
#include "kestrav/kestrav.h"

using namespace kestrav;

namespace {
const char* const kApplicationName = "Graduation Thesis: 3ds -> Open Inventor";
const char* const kNoDisplayMessage =
    "The examine viewer needs a display, and none could be opened (is DISPLAY set?).\n";

bool displayReachable() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

// Mesa's software GLX (Xvfb, or a machine without a GPU driver) sizes a
// window's buffers when a context is first made current on it, which SoQt does
// while the drawing area is still an unplaced 100x30 widget, and measures the
// window again only after a buffer swap. The first frame lands in that small
// buffer and the area stays black until something redraws it, so every new
// context draws one more frame after its first.
class KestravViewer : public SoQtExaminerViewer {
public:
    explicit KestravViewer(QWidget* parent)
        : SoQtExaminerViewer(parent, nullptr, TRUE, SoQtFullViewer::BUILD_ALL, SoQtViewer::BROWSER) {}

protected:
    void initGraphic() override {
        SoQtExaminerViewer::initGraphic();
        firstFrame = true;
    }

    void actualRedraw() override {
        SoQtExaminerViewer::actualRedraw();
        if (!firstFrame) return;
        firstFrame = false;
        scheduleRedraw();
    }

private:
    bool firstFrame = true;
};

// Each line in one write, so the lines of programs sharing a stderr stay whole.
void printMessages(const std::vector<std::string>& messages) {
    for (const std::string& line : messages) std::cerr << (line + '\n');
}

// The file's own camera (the first child) and lights, which -l puts at the top
// of the scene: the viewer starts from that camera, and drops its headlight
// when one of the lights is on.
void viewAsTheFileLights(SoQtExaminerViewer* viewer, SoSeparator* root, const Conversion& view) {
    bool lit = false;
    for (int i = 0; i < root->getNumChildren(); ++i) {
        SoNode* child = root->getChild(i);
        if (i == 0 && child->isOfType(SoCamera::getClassTypeId())) viewer->setCamera(static_cast<SoCamera*>(child));
        if (child->isOfType(SoLight::getClassTypeId()) && static_cast<SoLight*>(child)->on.getValue()) lit = true;
    }
    if (lit) viewer->setHeadlight(FALSE);
    if (view.hasBackground)
        viewer->setBackgroundColor(SbColor(view.background[0], view.background[1], view.background[2]));
}

// Converts and, unless only viewing, writes: prints the conversion's lines and
// returns the scene, or null (with the exit status) when there is nothing to show.
SoSeparator* convertAndWrite(const ConverterOptions& options, int& status, Conversion* shown = nullptr) {
    Conversion conversion = convert(options.inputPath, options, options.viewOnly ? "" : options.outputPath);
    if (shown) {
        shown->hasBackground = conversion.hasBackground;
        for (int i = 0; i < 3; ++i) shown->background[i] = conversion.background[i];
    }
    printMessages(conversion.messages);
    status = conversion.root ? 0 : 1;
    if (!conversion.root || options.viewOnly) return conversion.root;
    std::string failure;
    bool written = false;
    {
        InterruptCleanup cleanup;
        written = writeScene(conversion.root, options.outputPath, failure,
                             options.binary ? SceneFormat::Binary : SceneFormat::Ascii, InterruptCleanup::watchTemporary);
    }
    if (!written) {
        std::cerr << (failure + '\n');
        status = 1;
        conversion.root->unref();
        return nullptr;
    }
    return conversion.root;
}

// Converts with Coin alone: a plain conversion never starts the GUI toolkit,
// display or not.
int convertOnly(const ConverterOptions& options) {
    SoDB::init();
    int status = 0;
    SoSeparator* root = convertAndWrite(options, status);
    if (!root) return status;
    root->unref();
    // The viewer was asked for, but no display can show it; -e still wrote the scene.
    if (options.examineViewer) {
        std::cerr << kNoDisplayMessage;
        return 1;
    }
    return 0;
}

int convertAndView(const ConverterOptions& options) {
    QWidget* mainWindow = SoQt::init(kApplicationName, "SoQt");
    SoQtExaminerViewer* viewer = new KestravViewer(mainWindow);
    int status = 0;
    Conversion view;
    SoSeparator* root = convertAndWrite(options, status, &view);
    if (!root) return status;

    viewer->setSceneGraph(root);
    if (options.lights) viewAsTheFileLights(viewer, root, view);
    // The conversion only named the images; the viewer needs their pixels,
    // from wherever the current directory is.
    loadTextureImages(root, sceneFolderOf(options.viewOnly ? "" : options.outputPath));
    viewer->setFeedbackVisibility(TRUE);
    viewer->show();
    SoQt::show(mainWindow);
    SoQt::mainLoop();
    root->unref();
    return 0;
}

int run(const ConverterOptions& options) {
    if (!options.viewOnly && !options.outputPath.empty() && isSameFile(options.inputPath, options.outputPath)) {
        std::cerr << (sameFileLine(options.inputPath, options.outputPath) + '\n');
        return 1;
    }
    // SoQt aborts when it cannot reach an X server, so it starts only for the
    // viewer and only once a display is known to answer.
    const bool display = (options.examineViewer || options.viewOnly) && displayReachable();
    if (display) return convertAndView(options);
    // Only -e has something to do without a display: write the scene.
    if (options.viewOnly) {
        std::cerr << kNoDisplayMessage;
        return 1;
    }
    return convertOnly(options);
}

}  // namespace

int main(int argc, char** argv) {
    ConverterOptions options;
    options.programPath = argv[0];
    parseCommandLine(argc, argv, options);
    if (!options.batchFolder.empty()) return runBatch(options);
    try {
        return run(options);
    } catch (const std::bad_alloc&) {
        // The writer has removed its temporary; an existing output is as it was.
        std::cerr << (outOfMemoryLine(options.inputPath) + '\n');
        return 1;
    }
}
