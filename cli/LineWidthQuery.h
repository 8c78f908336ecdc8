#pragma once

#include "kestrav/kestrav.h"

namespace kestrav {

// Asks OpenGL for its line-width range (GL_LINE_WIDTH_RANGE) through a context
// that shows nothing: GLX on a pbuffer of the display when one can be opened,
// else (or when GLX fails) EGL's surfaceless platform. (0, 0) when no context
// can be had. The context is released before it returns. While it asks, Xlib's
// error handler is the query's own: the program's to allow, not the library's.
LineWidthRange queryLineWidthRange();

}  // namespace kestrav
