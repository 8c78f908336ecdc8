#include <Inventor/Qt/SoQt.h>
#include <Inventor/Qt/viewers/SoQtExaminerViewer.h>
#include <Inventor/SoDB.h>
#include <Inventor/nodes/SoSeparator.h>
#include <X11/Xlib.h>

#include <iostream>

#include "appearance/TextureImages.h"
#include "appearance/TextureLookup.h"
#include "cli/CommandLine.h"
#include "cli/ConverterOptions.h"
#include "convert/SceneConverter.h"

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

int finish(SceneConverter* converter, int status) {
    converter->release();
    delete converter;
    return status;
}

// Converts with Coin alone: a plain conversion never starts the GUI toolkit,
// display or not.
int convertOnly(const ConverterOptions& options) {
    SoDB::init();
    SceneConverter* converter = new SceneConverter(options);
    converter->build();
    if (!converter->outputWritten()) return finish(converter, 1);
    // The viewer was asked for, but no display can show it; -e still wrote the scene.
    if (options.examineViewer || options.viewOnly) {
        std::cerr << kNoDisplayMessage;
        return finish(converter, 1);
    }
    return finish(converter, 0);
}

int convertAndView(const ConverterOptions& options) {
    QWidget* mainWindow = SoQt::init(kApplicationName, "SoQt");
    SoQtExaminerViewer* viewer = new KestravViewer(mainWindow);
    SceneConverter* converter = new SceneConverter(options);
    SoSeparator* root = converter->build();
    if (!converter->outputWritten()) return finish(converter, 1);

    viewer->setSceneGraph(root);
    // The conversion only named the images; the viewer needs their pixels,
    // from wherever the current directory is.
    loadTextureImages(root, converter->getTextureLookup()->sceneFolder());
    viewer->setFeedbackVisibility(TRUE);
    viewer->show();
    SoQt::show(mainWindow);
    SoQt::mainLoop();
    return finish(converter, 0);
}

}  // namespace

int main(int argc, char** argv) {
    ConverterOptions options;
    options.programPath = argv[0];
    parseCommandLine(argc, argv, options);
    // SoQt aborts when it cannot reach an X server, so it starts only for the
    // viewer and only once a display is known to answer.
    if ((options.examineViewer || options.viewOnly) && displayReachable()) return convertAndView(options);
    return convertOnly(options);
}
