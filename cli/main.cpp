#include <Inventor/Qt/SoQt.h>
#include <Inventor/Qt/viewers/SoQtExaminerViewer.h>
#include <Inventor/SoDB.h>
#include <Inventor/nodes/SoSeparator.h>
#include <X11/Xlib.h>

#include <iostream>

#include "cli/CommandLine.h"
#include "cli/ConverterOptions.h"
#include "convert/SceneConverter.h"

namespace {
const char* const kApplicationName = "Graduation Thesis: 3ds -> Open Inventor";
const char* const kNoDisplayMessage =
    "The examine viewer needs a display, and none could be opened (is DISPLAY set?).\n";

// SoQt aborts when it cannot reach an X server, so ask Xlib first.
bool displayReachable() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

int finish(SceneConverter* converter, int status) {
    converter->release();
    delete converter;
    return status;
}

// Without a display only the conversion can run: Coin without its GUI binding.
int convertWithoutDisplay(int argc, char** argv) {
    SoDB::init();
    ConverterOptions options;
    options.programPath = argv[0];
    parseCommandLine(argc, argv, options);

    SceneConverter* converter = new SceneConverter(options);
    converter->build();
    if (!converter->outputWritten()) return finish(converter, 1);
    if (options.examineViewer || options.viewOnly) {
        std::cerr << kNoDisplayMessage;
        return finish(converter, 1);
    }
    return finish(converter, 0);
}

}  // namespace

int main(int argc, char** argv) {
    if (!displayReachable()) return convertWithoutDisplay(argc, argv);

    QWidget* mainWindow = SoQt::init(kApplicationName, "SoQt");
    SoQtExaminerViewer* viewer =
        new SoQtExaminerViewer(mainWindow, nullptr, TRUE, SoQtFullViewer::BUILD_ALL, SoQtViewer::BROWSER);
    ConverterOptions options;
    options.programPath = argv[0];
    parseCommandLine(argc, argv, options);

    SceneConverter* converter = new SceneConverter(options);
    SoSeparator* root = converter->build();
    viewer->setSceneGraph(root);
    if (!converter->outputWritten()) return finish(converter, 1);

    if (options.examineViewer || options.viewOnly) {
        viewer->setFeedbackVisibility(TRUE);
        viewer->show();
        SoQt::show(mainWindow);
        SoQt::mainLoop();
    }
    return finish(converter, 0);
}
