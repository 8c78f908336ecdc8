#include "tests/e2e/XvfbServer.h"

#include <X11/Xatom.h>
#include <X11/Xlib.h>
#include <X11/Xutil.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <sys/prctl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstring>
#include <string>

namespace {

const int kStartTimeoutMs = 30000;

std::string readDisplayNumber(int fd) {
    std::string number;
    char c = 0;
    pollfd ready{fd, POLLIN, 0};
    while (poll(&ready, 1, kStartTimeoutMs) == 1 && read(fd, &c, 1) == 1 && c != '\n') number += c;
    return c == '\n' ? number : "";
}

unsigned long windowPid(Display* display, Window window) {
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    unsigned long pid = 0;
    const Atom property = XInternAtom(display, "_NET_WM_PID", False);
    if (XGetWindowProperty(display, window, property, 0, 1, False, XA_CARDINAL, &type, &format, &count, &after,
                           &data) == Success &&
        data) {
        if (type == XA_CARDINAL && format == 32 && count == 1) pid = *reinterpret_cast<unsigned long*>(data);
        XFree(data);
    }
    return pid;
}

bool acceptsDelete(Display* display, Window window) {
    Atom* protocols = nullptr;
    int count = 0;
    bool found = false;
    const Atom deleteWindow = XInternAtom(display, "WM_DELETE_WINDOW", False);
    if (XGetWMProtocols(display, window, &protocols, &count)) {
        for (int i = 0; i < count; ++i) found |= protocols[i] == deleteWindow;
        XFree(protocols);
    }
    return found;
}

// The title a window manager shows: _NET_WM_NAME in UTF-8, else WM_NAME.
std::string windowTitle(Display* display, Window window) {
    std::string title;
    Atom type = None;
    int format = 0;
    unsigned long count = 0, after = 0;
    unsigned char* data = nullptr;
    if (XGetWindowProperty(display, window, XInternAtom(display, "_NET_WM_NAME", False), 0, 1024, False,
                           XInternAtom(display, "UTF8_STRING", False), &type, &format, &count, &after, &data) == Success &&
        data) {
        if (format == 8) title.assign(reinterpret_cast<char*>(data), count);
        XFree(data);
        if (format == 8) return title;
    }
    char* name = nullptr;
    if (XFetchName(display, window, &name) && name) {
        title = name;
        XFree(name);
    }
    return title;
}

// Windows come and go while they are inspected; a vanished one is skipped.
int ignoreXError(Display*, XErrorEvent*) { return 0; }

}  // namespace

XvfbServer::XvfbServer() {
    XSetErrorHandler(ignoreXError);
    int ready[2];
    if (pipe(ready) != 0) return;
    server = fork();
    if (server == 0) {
        // The server must not outlive a test process that crashed or was killed.
        prctl(PR_SET_PDEATHSIG, SIGTERM);
        close(ready[0]);
        const int null = open("/dev/null", O_RDWR);
        dup2(null, STDIN_FILENO);
        dup2(null, STDOUT_FILENO);
        dup2(null, STDERR_FILENO);
        const std::string fd = std::to_string(ready[1]);
        execlp("Xvfb", "Xvfb", "-displayfd", fd.c_str(), "-screen", "0", "1024x768x24", "-nolisten", "tcp",
               "-noreset", static_cast<char*>(nullptr));
        _exit(127);
    }
    close(ready[1]);
    if (server > 0) {
        const std::string number = readDisplayNumber(ready[0]);
        if (!number.empty()) {
            name = ":" + number;
            connection = XOpenDisplay(name.c_str());
        }
    }
    close(ready[0]);
}

XvfbServer::~XvfbServer() {
    if (connection) XCloseDisplay(connection);
    if (server > 0) {
        kill(server, SIGTERM);
        waitpid(server, nullptr, 0);
    }
}

TopLevelWindow XvfbServer::findWindow(pid_t pid) {
    TopLevelWindow found;
    if (!connection) return found;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(connection, DefaultRootWindow(connection), &root, &parent, &children, &count)) return found;
    for (unsigned int i = 0; i < count && !found.id; ++i) {
        XWindowAttributes attributes;
        if (!XGetWindowAttributes(connection, children[i], &attributes) || attributes.map_state != IsViewable ||
            windowPid(connection, children[i]) != static_cast<unsigned long>(pid))
            continue;
        found.id = children[i];
        found.width = attributes.width;
        found.height = attributes.height;
        found.title = windowTitle(connection, children[i]);
        Window* grandchildren = nullptr;
        unsigned int grandchildCount = 0;
        if (XQueryTree(connection, children[i], &root, &parent, &grandchildren, &grandchildCount)) {
            found.childCount = int(grandchildCount);
            if (grandchildren) XFree(grandchildren);
        }
        found.acceptsDelete = acceptsDelete(connection, children[i]);
    }
    if (children) XFree(children);
    return found;
}

void XvfbServer::watchWindowCreation() {
    if (!connection) return;
    XSelectInput(connection, DefaultRootWindow(connection), SubstructureNotifyMask);
    XSync(connection, True);
}

int XvfbServer::windowsCreated() {
    if (!connection) return 0;
    XSync(connection, False);
    int created = 0;
    while (XPending(connection)) {
        XEvent event;
        XNextEvent(connection, &event);
        created += event.type == CreateNotify ? 1 : 0;
    }
    XSelectInput(connection, DefaultRootWindow(connection), NoEventMask);
    XSync(connection, True);
    return created;
}

void XvfbServer::requestClose(unsigned long window) {
    XEvent event;
    std::memset(&event, 0, sizeof event);
    event.xclient.type = ClientMessage;
    event.xclient.window = window;
    event.xclient.message_type = XInternAtom(connection, "WM_PROTOCOLS", False);
    event.xclient.format = 32;
    event.xclient.data.l[0] = long(XInternAtom(connection, "WM_DELETE_WINDOW", False));
    event.xclient.data.l[1] = CurrentTime;
    XSendEvent(connection, window, False, NoEventMask, &event);
    XFlush(connection);
}
