#pragma once

namespace kestrav {

// Asks OpenGL for its line-width range (GL_LINE_WIDTH_RANGE) through a context
// that shows nothing: GLX on a pbuffer of the display when one can be opened,
// else (or when GLX fails) EGL's surfaceless platform. Stores (0, 0) when no
// context can be had. The context is released before it returns.
void queryLineWidthRange(float range[2]);

}  // namespace kestrav
