#pragma once

class SoNode;
class SoTimeCounter;

namespace kestrav {

// The scene's frame counter, which every moving part of an -a scene follows:
// pausing, stepping and rewinding it, as a video player does. A scene without
// one has nothing to play, and every call leaves it as it is.
class AnimationPlayer {
public:
    explicit AnimationPlayer(SoNode* root);

    bool hasAnimation() const { return counter != nullptr; }
    bool paused() const { return isPaused; }
    // The frame on show while paused, counted from 0 to lastFrame().
    int frame() const { return pausedFrame; }
    int lastFrame() const;

    void togglePause();
    // While paused, shows the frame count frames on, round the loop.
    void step(int count);
    // Goes to the first frame, paused or playing.
    void rewind();

private:
    void showFrame(int shownFrame);
    void driveParts(bool byCounter);

    SoTimeCounter* counter = nullptr;
    bool isPaused = false;
    int pausedFrame = 0;
    int counterFrame = 0;  // where the counter itself stopped
};

}  // namespace kestrav
