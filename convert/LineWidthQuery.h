#pragma once

// Asks OpenGL for its line-width range (GL_LINE_WIDTH_RANGE) through a context
// that shows nothing: GLX on the display when one can be opened, else EGL's
// surfaceless platform. Stores (0, 0) when no context can be had.
void queryLineWidthRange(float range[2]);
