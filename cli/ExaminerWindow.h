#pragma once

#include <string>

class QWidget;
class SoSeparator;

namespace kestrav {

class Conversion;
class KestravViewer;

// The examiner viewer in the toolkit's main window, for -e and -v.
class ExaminerWindow {
public:
    // Starts the GUI toolkit, and Coin with it, and builds the window unshown,
    // titled after the model file.
    explicit ExaminerWindow(const std::string& modelPath);
    ExaminerWindow(const ExaminerWindow&) = delete;
    ExaminerWindow& operator=(const ExaminerWindow&) = delete;

    // Shows the conversion's scene until the user closes the window. With
    // fileLights, starts from the file's camera and lights as it placed them;
    // without a file camera, from the model's front, upright.
    void show(const Conversion& view, bool fileLights);

private:
    QWidget* mainWindow = nullptr;
    KestravViewer* viewer = nullptr;
};

}  // namespace kestrav
