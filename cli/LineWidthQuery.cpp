#include "cli/LineWidthQuery.h"

#include <EGL/egl.h>
#include <EGL/eglext.h>
#include <GL/gl.h>
#include <GL/glx.h>
#include <X11/Xlib.h>

#include <cstring>

namespace kestrav {

namespace {

bool xErrorSeen = false;

int recordXError(Display*, XErrorEvent*) {
    xErrorSeen = true;
    return 0;
}

// A 1x1 pbuffer is never mapped, so nothing appears on the screen.
bool queryWithGlx(Display* display, float range[2]) {
    int glxError = 0, glxEvent = 0;
    if (!glXQueryExtension(display, &glxError, &glxEvent)) return false;

    const int configAttributes[] = {GLX_DRAWABLE_TYPE, GLX_PBUFFER_BIT, GLX_RENDER_TYPE, GLX_RGBA_BIT, None};
    int configCount = 0;
    GLXFBConfig* configs = glXChooseFBConfig(display, DefaultScreen(display), configAttributes, &configCount);
    if (!configs) return false;
    if (configCount == 0) {
        XFree(configs);
        return false;
    }

    // A failed request must not end the process through Xlib's default handler.
    xErrorSeen = false;
    XErrorHandler previous = XSetErrorHandler(recordXError);
    const int pbufferAttributes[] = {GLX_PBUFFER_WIDTH, 1, GLX_PBUFFER_HEIGHT, 1, None};
    GLXContext context = glXCreateNewContext(display, configs[0], GLX_RGBA_TYPE, nullptr, True);
    GLXPbuffer pbuffer = glXCreatePbuffer(display, configs[0], pbufferAttributes);
    XFree(configs);
    XSync(display, False);

    bool queried = false;
    if (context && pbuffer && !xErrorSeen && glXMakeContextCurrent(display, pbuffer, pbuffer, context)) {
        glGetFloatv(GL_LINE_WIDTH_RANGE, range);
        queried = glGetError() == GL_NO_ERROR;
        glXMakeContextCurrent(display, None, None, nullptr);
    }
    if (pbuffer) glXDestroyPbuffer(display, pbuffer);
    if (context) glXDestroyContext(display, context);
    XSync(display, False);
    XSetErrorHandler(previous);
    return queried && !xErrorSeen;
}

bool hasExtension(const char* list, const char* name) {
    const size_t length = std::strlen(name);
    for (const char* at = list; at && (at = std::strstr(at, name)); at += length) {
        const bool startsWord = at == list || at[-1] == ' ';
        if (startsWord && (at[length] == ' ' || at[length] == '\0')) return true;
    }
    return false;
}

// Mesa's surfaceless platform renders without any window system at all.
bool queryWithEgl(float range[2]) {
    if (!hasExtension(eglQueryString(EGL_NO_DISPLAY, EGL_EXTENSIONS), "EGL_MESA_platform_surfaceless"))
        return false;
    EGLDisplay display = eglGetPlatformDisplay(EGL_PLATFORM_SURFACELESS_MESA, EGL_DEFAULT_DISPLAY, nullptr);
    EGLint major = 0, minor = 0;
    if (display == EGL_NO_DISPLAY || !eglInitialize(display, &major, &minor)) return false;

    // The surfaceless platform offers no configs; a context needs none.
    const char* extensions = eglQueryString(display, EGL_EXTENSIONS);
    bool queried = false;
    if (hasExtension(extensions, "EGL_KHR_surfaceless_context") &&
        hasExtension(extensions, "EGL_KHR_no_config_context") && eglBindAPI(EGL_OPENGL_API)) {
        EGLContext context = eglCreateContext(display, EGL_NO_CONFIG_KHR, EGL_NO_CONTEXT, nullptr);
        if (context != EGL_NO_CONTEXT) {
            if (eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, context)) {
                glGetFloatv(GL_LINE_WIDTH_RANGE, range);
                queried = glGetError() == GL_NO_ERROR;
                eglMakeCurrent(display, EGL_NO_SURFACE, EGL_NO_SURFACE, EGL_NO_CONTEXT);
            }
            eglDestroyContext(display, context);
        }
    }
    // The display stays initialised: terminating it unloads the driver, which
    // then leaks what it set up once, and a later call would load it again.
    eglReleaseThread();
    return queried;
}

}  // namespace

LineWidthRange queryLineWidthRange() {
    float queried[2] = {0.0f, 0.0f};
    bool found = false;
    if (Display* display = XOpenDisplay(nullptr)) {
        found = queryWithGlx(display, queried);
        XCloseDisplay(display);
    }
    if (!found) found = queryWithEgl(queried);
    if (!found) return {};
    return {queried[0], queried[1]};
}

}  // namespace kestrav
