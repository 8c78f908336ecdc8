#include "cli/SingleRun.h"

#include <Inventor/SoDB.h>
#include <Inventor/nodes/SoSeparator.h>
#include <X11/Xlib.h>

#include <cerrno>
#include <iostream>
#include <new>
#include <string>
#include <vector>

#include "appearance/TextureImages.h"
#include "appearance/TextureLookup.h"
#include "cli/InterruptCleanup.h"
#include "cli/ProgramLines.h"
#include "cli/ViewerModule.h"
#include "convert/Conversion.h"
#include "convert/ProcessorCount.h"
#include "convert/SceneConverter.h"
#include "convert/SceneWriter.h"

namespace kestrav {

namespace {
const char* const kNoDisplayMessage =
    "The examine viewer needs a display, and none could be opened (is DISPLAY set?).\n";
const char* const kNoViewerMessage = "The examine viewer could not be loaded: ";

bool displayReachable() {
    Display* display = XOpenDisplay(nullptr);
    if (!display) return false;
    XCloseDisplay(display);
    return true;
}

// Each line in one write, so the lines of programs sharing a stderr stay whole.
void printLines(const std::vector<std::string>& lines) {
    for (const std::string& line : lines) std::cerr << (line + '\n');
}

// Prints the conversion's lines and, unless only viewing, writes its scene
// with writeTo(failure): false, with the exit status, when there is nothing
// to show.
template <class Write>
bool printAndWrite(const ConverterOptions& options, const Conversion& conversion, const Write& writeTo,
                   int& status) {
    printLines(programLines(conversion));
    status = conversion.root() ? 0 : 1;
    if (!conversion.root() || options.viewOnly) return conversion.root() != nullptr;
    std::string failure;
    bool written = false;
    int writeError = 0;
    {
        InterruptCleanup cleanup;
        written = writeTo(failure);
        writeError = errno;
    }
    if (!written) {
        // Standard output closed by its reader (| head) is the reader's choice,
        // as it is for cat; only the status tells that not all was written.
        if (!(options.outputPath.empty() && writeError == EPIPE)) std::cerr << (failure + '\n');
        status = 1;
        return false;
    }
    return true;
}

// Converts and, unless only viewing, writes: prints the conversion's lines and
// returns it, without a scene (and with the exit status) when there is nothing
// to show. A scene that is not kept for the viewer is built as it is written,
// when it can be.
Conversion convertAndWrite(const ConverterOptions& options, bool sceneKept, int& status) {
    // Only a scene that is written takes its images with it.
    Options conversionOptions = options;
    if (options.viewOnly) conversionOptions.portable = false;
    const SceneFormat format = options.binary ? SceneFormat::Binary : SceneFormat::Ascii;
    const size_t threads = threadsFor(options.threads);
    if (!sceneKept && !options.viewOnly && StreamedConversion::canStream(conversionOptions)) {
        StreamedConversion streamed(options.inputPath, conversionOptions, options.outputPath);
        const auto writeTo = [&](std::string& failure) {
            return streamed.write(options.outputPath, failure, format, InterruptCleanup::watchTemporary, threads);
        };
        if (!printAndWrite(options, streamed.conversion(), writeTo, status)) return Conversion();
        return std::move(streamed.conversion());
    }
    Conversion conversion;
    {
        // An interrupted run leaves no image half-written either.
        InterruptCleanup cleanup;
        conversion = convertWatched(options.inputPath, conversionOptions, options.viewOnly ? "" : options.outputPath,
                                    InterruptCleanup::watchTemporary);
    }
    const auto writeTo = [&](std::string& failure) {
        return writeScene(conversion.root(), options.outputPath, failure, format, InterruptCleanup::watchTemporary,
                          threads);
    };
    if (!printAndWrite(options, conversion, writeTo, status)) return Conversion();
    return conversion;
}

// Converts and writes without the viewer; for -e, which asked for it, then
// says why not (noViewer).
int convertOnly(const ConverterOptions& options, const std::string& noViewer, Conversion& kept) {
    int status = 0;
    kept = convertAndWrite(options, false, status);
    if (!kept.root()) return status;
    if (options.examineViewer) {
        std::cerr << noViewer;
        return 1;
    }
    return 0;
}

int convertAndView(const ConverterOptions& options, ViewScene viewScene, Conversion& view) {
    int status = 0;
    view = convertAndWrite(options, true, status);
    if (!view.root()) return status;

    // The conversion only named the images; the viewer needs their pixels,
    // from wherever the current directory is.
    loadTextureImages(view.root(), sceneFolderOf(options.viewOnly ? "" : options.outputPath));
    viewScene(options.inputPath.c_str(), view, options.lights);
    return 0;
}

int runSingle(const ConverterOptions& options, Conversion& kept) {
    if (!options.viewOnly && isSameFile(options.inputPath, options.outputPath)) {
        std::cerr << (programLine(sameFileLine(options.inputPath, options.outputPath)) + '\n');
        return 1;
    }
    SoDB::init();
    // A plain conversion never loads the viewer's module and its GUI toolkit,
    // display or not; SoQt aborts when it cannot reach an X server, so the
    // viewer loads only once a display is known to answer.
    ViewScene viewScene = nullptr;
    std::string noViewer;
    if (options.examineViewer || options.viewOnly) {
        std::string failure;
        if (!displayReachable())
            noViewer = kNoDisplayMessage;
        else if (!(viewScene = loadViewer(failure)))
            noViewer = kNoViewerMessage + failure + ".\n";
    }
    if (viewScene) return convertAndView(options, viewScene, kept);
    // Only -e has something to do without the viewer: write the scene.
    if (options.viewOnly) {
        std::cerr << noViewer;
        return 1;
    }
    return convertOnly(options, noViewer, kept);
}

}  // namespace

int convertSingle(const ConverterOptions& options, Conversion& kept) {
    try {
        return runSingle(options, kept);
    } catch (const std::bad_alloc&) {
        // The writer has removed its temporary; an existing output is as it was.
        std::cerr << (programLine(outOfMemoryLine(options.inputPath)) + '\n');
        return 1;
    }
}

}  // namespace kestrav
