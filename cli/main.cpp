#include <Inventor/Qt/SoQt.h>
#include <Inventor/Qt/viewers/SoQtExaminerViewer.h>
#include <Inventor/SoDB.h>
#include <Inventor/nodes/SoSeparator.h>
#include <X11/Xlib.h>

#include <iostream>
#include <string>
#include <vector>

#include "appearance/TextureImages.h"
#include "appearance/TextureLookup.h"
#include "cli/BatchRun.h"
#include "cli/CommandLine.h"
#include "cli/ConverterOptions.h"
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

// Converts and, unless only viewing, writes: prints the conversion's lines and
// returns the scene, or null (with the exit status) when there is nothing to show.
SoSeparator* convertAndWrite(const ConverterOptions& options, int& status) {
    Conversion conversion = convert(options.inputPath, options, options.viewOnly ? "" : options.outputPath);
    printMessages(conversion.messages);
    status = conversion.root ? 0 : 1;
    if (!conversion.root || options.viewOnly) return conversion.root;
    std::string failure;
    if (!write(conversion.root, options.outputPath, &failure)) {
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
    if (options.examineViewer || options.viewOnly) {
        std::cerr << kNoDisplayMessage;
        return 1;
    }
    return 0;
}

int convertAndView(const ConverterOptions& options) {
    QWidget* mainWindow = SoQt::init(kApplicationName, "SoQt");
    SoQtExaminerViewer* viewer = new KestravViewer(mainWindow);
    int status = 0;
    SoSeparator* root = convertAndWrite(options, status);
    if (!root) return status;

    viewer->setSceneGraph(root);
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

}  // namespace

int main(int argc, char** argv) {
    ConverterOptions options;
    options.programPath = argv[0];
    parseCommandLine(argc, argv, options);
    if (!options.batchFolder.empty()) return runBatch(options);
    // SoQt aborts when it cannot reach an X server, so it starts only for the
    // viewer and only once a display is known to answer.
    if ((options.examineViewer || options.viewOnly) && displayReachable()) return convertAndView(options);
    return convertOnly(options);
}
