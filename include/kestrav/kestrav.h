#pragma once

// kestrav: 3D Studio (.3ds) models as Open Inventor scenes, for Coin programs.
//
//   kestrav::Conversion c = kestrav::convert("model.3ds");
//   for (const kestrav::Message& m : c.messages) std::cerr << m.text << '\n';
//   if (c.root()) viewer->setSceneGraph(c.root());  // the viewer takes its own reference
//
// Nothing here prints, exits or keeps state between calls, and nothing touches
// the process's state: no display or graphics driver, no signal or Xlib error
// handler, no environment variable, no umask, no current directory change.
// Conversions in one process are independent of each other and of the host
// program; what the program knows of its host (line widths, a texture search
// path) it passes in Options. The one thing shared is Coin, which is
// initialised on first use if the program has not done it.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

class SoNode;
class SoSeparator;

namespace kestrav {

// The widths, in pixels, of the lines the OpenGL that will draw the scene can
// draw. (0, 0): unknown.
struct LineWidthRange {
    float smallest = 0.0f;
    float largest = 0.0f;
};

// What a conversion does beyond the plain scene; every flag off by default.
struct Options {
    bool flatShading = false;  // every face its own normal, whatever its smoothing groups
    bool noTextures = false;   // no texture coordinates, transforms, images or bump maps
    bool twoSided = false;     // every material drawn two-sided
    bool bumpMaps = false;     // a bump-map node (a Coin extension) for found bump images
    bool binary = false;       // convertToFile writes Open Inventor's binary form
    bool lights = false;       // the file's cameras, lights and ambient colour
    bool animation = false;    // parts' keyframer motion and hiding kept as engines that play it
    // Every image the scene names is written into the scene's folder and named
    // there: JPEG and SGI RGB as they are, other formats as SGI RGB.
    bool portable = false;
    // Threads one conversion may use to build and write its scene; 0: one per
    // processor this process may run on. The scene's bytes do not depend on it;
    // a small model starts none, and every thread started ends before the call
    // returns (no pool is kept between calls).
    unsigned threads = 0;

    // A wire material's size is a percentage of the widest line; this gives the
    // range. Called at most once per conversion, and only when the model has a
    // wire material, since asking a graphics driver can cost more than the
    // conversion. Unset, or giving (0, 0): wire lines keep Coin's default width.
    std::function<LineWidthRange()> lineWidths;
    // Colon-separated folders where texture images not found beside the model
    // are looked for next (the program passes $KESTRAV_TEXTURE_PATH); empty: none.
    std::string textureSearchPath;
};

// How a conversion went. (Not "Status": Xlib defines that name as a macro.)
enum class Outcome {
    Converted,
    DamagedChunksSkipped,  // converted whole but for chunks damaged inside
    DamageEndedWalk,       // converted up to damage that left the rest unreadable
    Unreadable,            // the file could not be read, or is no 3DS model: no scene
    NotWritten,            // converted, but the scene could not be written
    OutOfMemory,           // memory ran out while reading or building: no scene
};

// A line for the user, without a newline and without a program's name or
// "Warning:" before it.
struct Message {
    enum class Kind {
        Warning,  // the model is damaged; what could be read was converted
        Error,    // why there is no scene, or why it was not written
        Note,     // a texture image missing, found under another name, or (with portable) not written
    };
    Kind kind = Kind::Note;
    std::string text;
};

// One conversion's scene and report. It owns the scene: it holds one
// reference to the root and gives it up when it ends, so it can be moved but
// not copied.
class Conversion {
public:
    Conversion() = default;
    ~Conversion();
    Conversion(Conversion&& other) noexcept;
    Conversion& operator=(Conversion&& other) noexcept;
    Conversion(const Conversion&) = delete;
    Conversion& operator=(const Conversion&) = delete;

    // The scene, still owned by this Conversion: it lives as long as the
    // Conversion unless the caller refs it (a viewer's setSceneGraph does).
    // Null when there is no scene (see status).
    SoSeparator* root() const { return scene; }
    // Hands this Conversion's reference over: the caller must unref the root
    // it gets, and the Conversion holds no scene any more. Null when there was none.
    SoSeparator* release();

    Outcome status = Outcome::Unreadable;
    // In the order they arose: why the file could not be read, a damage
    // warning, texture look-ups, a failed write.
    std::vector<Message> messages;
    // With Options::lights, the solid background colour when the file uses one.
    bool hasBackground = false;
    float background[3] = {0.0f, 0.0f, 0.0f};

private:
    friend struct ConversionScene;
    SoSeparator* scene = nullptr;
};

// Reads the model at path and builds its scene. Texture images are found
// beside the model (in any letter case) and named relative to the folder of
// scenePath, where the scene is going to be written; with an empty scenePath,
// relative to the current directory. With Options::portable the images are
// written into that folder now.
Conversion convert(const std::string& path, const Options& options = {}, const std::string& scenePath = "");
// A path given as characters (a literal, argv[i]) is a path. Without this,
// convert("m.3ds", {}) would quietly take the model from memory, a zero-byte
// model; with it, that call is ambiguous and does not compile.
inline Conversion convert(const char* path, const Options& options = {}, const std::string& scenePath = "") {
    return convert(std::string(path), options, scenePath);
}

// The same for a model held in memory: size bytes at bytes, which the call
// only reads and the caller may free once it returns. It gives the scene,
// status and messages that the same bytes in a file give, but that the
// messages call the model "<memory>". Texture images are looked for in
// scenePath's folder, as if the model lay beside the scene (in the current
// directory when scenePath is empty), and named relative to it.
Conversion convert(const void* bytes, std::size_t size, const Options& options = {},
                   const std::string& scenePath = "");

// Writes the scene as an Open Inventor file at path, or to standard output
// when path is empty: ASCII, or with binary the binary form, a third of the
// size and faster to load. An existing file is replaced only once the whole
// scene is written beside it. On failure returns false and, when failure is
// given, sets it to one line naming the target and the system's reason. The
// text is formatted on up to threads threads (0: one per processor this process
// may run on, as Options::threads), with the same bytes whatever their number.
bool write(SoNode* root, const std::string& path, std::string* failure = nullptr, bool binary = false,
           unsigned threads = 0);

// convert, then write to outputPath (the scene folder is its folder). A failed
// write gives Outcome::NotWritten, with its error last among the messages; an
// outputPath that names the model itself, or an empty one (standard output)
// while standard output is open on the model, gives it at once, with no scene.
Conversion convertToFile(const std::string& path, const std::string& outputPath, const Options& options = {});

}  // namespace kestrav
