#include "tests/e2e/Screenshot.h"

#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <sstream>

#include "tests/e2e/ChildProcess.h"

namespace {

struct Leaf {
    Window id = 0;
    long area = 0;
};

void findLargestLeaf(Display* display, Window window, Leaf& best) {
    XWindowAttributes attributes;
    if (!XGetWindowAttributes(display, window, &attributes) || attributes.map_state != IsViewable) return;
    Window root = 0, parent = 0;
    Window* children = nullptr;
    unsigned int count = 0;
    if (!XQueryTree(display, window, &root, &parent, &children, &count)) return;
    for (unsigned int i = 0; i < count; ++i) findLargestLeaf(display, children[i], best);
    if (children) XFree(children);
    const long area = long(attributes.width) * attributes.height;
    if (count == 0 && area > best.area) best = {window, area};
}

// Spreads a channel mask's bits over 0..255 whatever the visual's layout.
unsigned char channel(unsigned long pixel, unsigned long mask) {
    if (!mask) return 0;
    int shift = 0;
    while (!((mask >> shift) & 1)) ++shift;
    const unsigned long maximum = mask >> shift;
    return static_cast<unsigned char>(((pixel & mask) >> shift) * 255 / maximum);
}

// Binary PPM (P6) with a maximum value of 255, as convert writes it with -depth 8.
RgbImage parsePpm(const std::string& bytes) {
    RgbImage image;
    std::istringstream in(bytes);
    std::string magic;
    int maximum = 0;
    in >> magic >> image.width >> image.height >> maximum;
    in.get();
    if (!in || magic != "P6" || maximum != 255 || image.width <= 0 || image.height <= 0) return RgbImage();
    const std::size_t offset = std::size_t(in.tellg());
    const std::size_t size = std::size_t(image.width) * image.height * 3;
    if (bytes.size() - offset < size) return RgbImage();
    image.rgb.assign(bytes.begin() + offset, bytes.begin() + offset + size);
    return image;
}

int ignoreXError(Display*, XErrorEvent*) { return 0; }

}  // namespace

RgbImage captureDrawingArea(const std::string& displayName, unsigned long topLevel) {
    RgbImage image;
    Display* display = XOpenDisplay(displayName.c_str());
    if (!display) return image;
    // The window may close while it is read; that is an empty capture, not a crash.
    XErrorHandler previous = XSetErrorHandler(ignoreXError);
    Leaf area;
    findLargestLeaf(display, topLevel, area);
    XWindowAttributes attributes;
    XImage* pixels = nullptr;
    if (area.id && XGetWindowAttributes(display, area.id, &attributes))
        pixels = XGetImage(display, area.id, 0, 0, attributes.width, attributes.height, AllPlanes, ZPixmap);
    if (pixels) {
        image.width = pixels->width;
        image.height = pixels->height;
        image.rgb.reserve(std::size_t(image.width) * image.height * 3);
        for (int y = 0; y < image.height; ++y)
            for (int x = 0; x < image.width; ++x) {
                const unsigned long pixel = XGetPixel(pixels, x, y);
                image.rgb.push_back(channel(pixel, pixels->red_mask));
                image.rgb.push_back(channel(pixel, pixels->green_mask));
                image.rgb.push_back(channel(pixel, pixels->blue_mask));
            }
        XDestroyImage(pixels);
    }
    XSync(display, False);
    XSetErrorHandler(previous);
    XCloseDisplay(display);
    return image;
}

RgbImage readImageFile(const std::string& path) {
    LaunchOptions convert;
    convert.argv = {IMAGEMAGICK_CONVERT, path, "-depth", "8", "ppm:-"};
    const ProcessResult result = runProcess(convert, 60);
    if (result.exitStatus != 0) return RgbImage();
    return parsePpm(result.out);
}
