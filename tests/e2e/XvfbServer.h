#pragma once

// A private X server for the viewer tests, and the little a window manager
// does that the tests need: finding a program's top-level window and asking it
// to close.

#include <sys/types.h>

#include <string>

typedef struct _XDisplay Display;

struct TopLevelWindow {
    unsigned long id = 0;  // 0: none found
    std::string title;  // UTF-8
    int width = 0;
    int height = 0;
    int childCount = 0;
    bool acceptsDelete = false;  // lists WM_DELETE_WINDOW in WM_PROTOCOLS
};

class XvfbServer {
public:
    // Starts Xvfb on a free display number; check running() afterwards.
    XvfbServer();
    ~XvfbServer();
    XvfbServer(const XvfbServer&) = delete;
    XvfbServer& operator=(const XvfbServer&) = delete;

    bool running() const { return connection != nullptr; }
    const std::string& displayName() const { return name; }

    // The viewable top-level window whose _NET_WM_PID is pid, if any.
    TopLevelWindow findWindow(pid_t pid);
    // Sends WM_DELETE_WINDOW, as a window manager does when the user closes it.
    void requestClose(unsigned long window);

    // Counts the top-level windows any client creates from now on, shown or
    // not, until windowsCreated() is asked.
    void watchWindowCreation();
    int windowsCreated();

private:
    pid_t server = -1;
    std::string name;
    Display* connection = nullptr;
};
