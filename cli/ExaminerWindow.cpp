#include "cli/ExaminerWindow.h"

#include <Inventor/Qt/SoQt.h>
#include <Inventor/Qt/viewers/SoQtExaminerViewer.h>
#include <Inventor/events/SoKeyboardEvent.h>
#include <Inventor/nodes/SoCamera.h>
#include <Inventor/nodes/SoLight.h>
#include <Inventor/nodes/SoPerspectiveCamera.h>
#include <Inventor/nodes/SoSeparator.h>
#include <QFile>
#include <QGuiApplication>
#include <QScreen>
#include <QWidget>

#include <algorithm>
#include <cmath>
#include <memory>
#include <type_traits>

#include "cli/AnimationPlayer.h"
#include "cli/ViewerModule.h"
#include "kestrav/kestrav.h"

namespace kestrav {

namespace {
const char* const kApplicationName = "kestrav";
// The first view looks at the model's front (its -Y side) from this far
// round to the right and this far up, in degrees.
const float kHomeRound = 30.0f;
const float kHomeUp = 30.0f;
// The window takes this share of the screen's height; the drawing area is 4:3.
const float kScreenShare = 0.75f;

// The file's own camera (the first child) and lights, which -l puts at the top
// of the scene: the viewer starts from that camera, and drops its headlight
// when one of the lights is on. True when the file had a camera.
bool viewAsTheFileLights(SoQtExaminerViewer* viewer, SoSeparator* root, const Conversion& view) {
    bool lit = false, fileCamera = false;
    for (int i = 0; i < root->getNumChildren(); ++i) {
        SoNode* child = root->getChild(i);
        if (i == 0 && child->isOfType(SoCamera::getClassTypeId())) {
            viewer->setCamera(static_cast<SoCamera*>(child));
            fileCamera = true;
        }
        if (child->isOfType(SoLight::getClassTypeId()) && static_cast<SoLight*>(child)->on.getValue()) lit = true;
    }
    if (lit) viewer->setHeadlight(FALSE);
    if (view.hasBackground)
        viewer->setBackgroundColor(SbColor(view.background[0], view.background[1], view.background[2]));
    return fileCamera;
}

// 3DS models stand on their XY plane: the scene's Z goes up the screen, and
// the view takes in the whole model; the home button comes back here.
void viewUpright(SoQtExaminerViewer* viewer) {
    SoCamera* camera = viewer->getCamera();
    if (!camera) return;
    const float degree = float(M_PI) / 180.0f;
    const float round = kHomeRound * degree, up = kHomeUp * degree;
    camera->position = SbVec3f(std::cos(up) * std::sin(round), -std::cos(up) * std::cos(round), std::sin(up));
    camera->pointAt(SbVec3f(0, 0, 0), SbVec3f(0, 0, 1));
    viewer->viewAll();
    // Coin's view-all fits the bounding sphere's radius to the half-height of
    // the view at the sphere's centre, so a perspective view cuts off parts
    // nearer the eye; backing away by 1 / cos(half the view angle) fits the
    // whole sphere.
    if (camera->isOfType(SoPerspectiveCamera::getClassTypeId())) {
        const float halfAngle = static_cast<SoPerspectiveCamera*>(camera)->heightAngle.getValue() / 2.0f;
        SbVec3f direction;
        camera->orientation.getValue().multVec(SbVec3f(0, 0, -1), direction);
        const float distance = camera->focalDistance.getValue();
        const SbVec3f centre = camera->position.getValue() + direction * distance;
        camera->focalDistance = distance / std::cos(halfAngle);
        camera->position = centre - direction * camera->focalDistance.getValue();
    }
    viewer->saveHomePosition();
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
    KestravViewer(QWidget* parent, const QString& modelName)
        : SoQtExaminerViewer(parent, nullptr, TRUE, SoQtFullViewer::BUILD_ALL, SoQtViewer::BROWSER),
          model(modelName) {}

    void play(SoNode* root) { player.reset(new AnimationPlayer(root)); }

    // A 4:3 drawing area as large as kScreenShare of the screen's height
    // allows with the viewer's wheels and buttons around it, and never wider
    // than the screen.
    void fitScreen() {
        const QScreen* screen = QGuiApplication::primaryScreen();
        if (!screen) return;
        const QRect room = screen->availableGeometry();
        const SbVec2s whole = getSize(), drawing = getGLSize();
        const int aroundX = std::max(0, whole[0] - drawing[0]), aroundY = std::max(0, whole[1] - drawing[1]);
        int height = int(float(room.height()) * kScreenShare) - aroundY;
        height = std::min(height, (room.width() - aroundX) * 3 / 4);
        if (height < 1) return;
        getWidget()->window()->resize(height * 4 / 3 + aroundX, height + aroundY);
    }

    void showTitle() {
        QString title = QString::fromUtf8("kestrav \u2014 ") + model;
        if (player && player->paused())
            title += QString::fromUtf8(" \u2014 frame %1 / %2").arg(player->frame()).arg(player->lastFrame());
        getWidget()->window()->setWindowTitle(title);
    }

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

    // The examiner's own keys (arrows, Home, Esc) pass on untouched.
    SbBool processSoEvent(const SoEvent* const event) override {
        if (event->isOfType(SoKeyboardEvent::getClassTypeId()) && pressKey(*static_cast<const SoKeyboardEvent*>(event)))
            return TRUE;
        return SoQtExaminerViewer::processSoEvent(event);
    }

private:
    bool pressKey(const SoKeyboardEvent& key) {
        if (key.getState() != SoButtonEvent::DOWN) return false;
        if (key.getKey() == SoKeyboardEvent::Q) {
            SoQt::exitMainLoop();
            return true;
        }
        if (!player || !player->hasAnimation()) return false;
        switch (key.getKey()) {
            case SoKeyboardEvent::SPACE: player->togglePause(); break;
            case SoKeyboardEvent::COMMA: player->step(-1); break;
            case SoKeyboardEvent::PERIOD: player->step(1); break;
            case SoKeyboardEvent::NUMBER_0:
            case SoKeyboardEvent::PAD_0: player->rewind(); break;
            default: return false;
        }
        showTitle();
        return true;
    }

    QString model;
    std::unique_ptr<AnimationPlayer> player;
    bool firstFrame = true;
};

ExaminerWindow::ExaminerWindow(const std::string& modelPath) : mainWindow(SoQt::init(kApplicationName, "SoQt")) {
    const std::string name = modelPath.substr(modelPath.find_last_of('/') + 1);
    viewer = new KestravViewer(mainWindow, QFile::decodeName(QByteArray(name.data(), int(name.size()))));
}

void ExaminerWindow::show(const Conversion& view, bool fileLights) {
    SoSeparator* root = view.root();
    viewer->setSceneGraph(root);
    const bool fileCamera = fileLights && viewAsTheFileLights(viewer, root, view);
    if (!fileCamera) viewUpright(viewer);
    viewer->play(root);
    viewer->setFeedbackVisibility(TRUE);
    viewer->showTitle();
    viewer->show();
    SoQt::show(mainWindow);
    QCoreApplication::processEvents();
    // A close that came while the window was being shown has closed it
    // already, and its quit, before the main loop, went nowhere: the loop
    // would wait with no window for ever.
    if (!mainWindow->isVisible()) return;
    viewer->fitScreen();
    SoQt::mainLoop();
}

}  // namespace kestrav

// The module's entry point, which the program finds by name (kViewSceneSymbol).
extern "C" __attribute__((visibility("default"))) void kestrav_view_scene(const char* modelPath,
                                                                        const kestrav::Conversion& view,
                                                                        bool fileLights) {
    static_assert(std::is_same_v<decltype(&kestrav_view_scene), kestrav::ViewScene>);
    kestrav::ExaminerWindow window(modelPath);
    window.show(view, fileLights);
}
