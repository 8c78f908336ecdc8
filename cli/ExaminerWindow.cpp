#include "cli/ExaminerWindow.h"

#include <Inventor/Qt/SoQt.h>
#include <Inventor/Qt/viewers/SoQtExaminerViewer.h>
#include <Inventor/nodes/SoCamera.h>
#include <Inventor/nodes/SoLight.h>
#include <Inventor/nodes/SoSeparator.h>

#include "kestrav/kestrav.h"

namespace kestrav {

namespace {
const char* const kApplicationName = "Graduation Thesis: 3ds -> Open Inventor";

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

}  // namespace

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

ExaminerWindow::ExaminerWindow()
    : mainWindow(SoQt::init(kApplicationName, "SoQt")), viewer(new KestravViewer(mainWindow)) {}

void ExaminerWindow::show(SoSeparator* root, bool fileLights, const Conversion& view) {
    viewer->setSceneGraph(root);
    if (fileLights) viewAsTheFileLights(viewer, root, view);
    viewer->setFeedbackVisibility(TRUE);
    viewer->show();
    SoQt::show(mainWindow);
    SoQt::mainLoop();
}

}  // namespace kestrav
