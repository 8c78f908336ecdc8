#pragma once

namespace kestrav {

// While one exists, SIGINT, SIGTERM and SIGHUP remove the temporary file the
// scene is being written to (see watchTemporary) before the process dies of
// the signal, so an interrupted run leaves the old output as it was and no
// temporary beside it. A signal the program was started ignoring stays ignored.
class InterruptCleanup {
public:
    InterruptCleanup();
    ~InterruptCleanup();
    InterruptCleanup(const InterruptCleanup&) = delete;
    InterruptCleanup& operator=(const InterruptCleanup&) = delete;

    // A TemporaryWatch for writeScene: records the temporary's path, or that
    // there is none when null.
    static void watchTemporary(const char* temporaryPath);
};

}  // namespace kestrav
