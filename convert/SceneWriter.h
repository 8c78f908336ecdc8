#pragma once

#include <cstddef>
#include <functional>
#include <string>

class SoNode;

namespace kestrav {

// The name of the temporary file a scene is written to beside its target
// before it replaces it; each X becomes a random letter or digit.
inline constexpr char kTemporarySceneName[] = ".kestrav-XXXXXX";

// Open Inventor's two forms of a scene file: text, or the binary form that is
// smaller and faster to read back.
enum class SceneFormat { Ascii, Binary };

// Told null just before the temporary file is made, its path as soon as it
// exists, and null again once it is renamed or removed, so that a program can
// hold back its signals while no handler could know the name, and remove the
// file when one arrives.
using TemporaryWatch = void (*)(const char* temporaryPath);

// Fills node when it is a part of the scene left empty to be built as the
// write reaches it, in the scene's order; false for any other node.
using PartFiller = std::function<bool(const SoNode* node)>;

// Writes the scene as Open Inventor ASCII (or binary) to outputPath, or to
// standard output when it is empty. A regular file is replaced only after a
// complete, checked write of a temporary file beside it. Returns false and sets
// failure to one line for the user when the scene could not be written in full.
// When memory runs out, the temporary file is removed and std::bad_alloc passed on.
// The ASCII text is formatted and written on up to threads threads (1: the
// calling thread alone), with the same bytes whatever their number; the binary
// form is written out by a second thread while the first makes it. With
// fillPart, the scene's parts are built as the write reaches them and emptied
// once written (see SceneWriteAction); what fillPart throws is passed on,
// with the temporary file removed.
bool writeScene(SoNode* root, const std::string& outputPath, std::string& failure,
                SceneFormat format = SceneFormat::Ascii, TemporaryWatch watch = nullptr, size_t threads = 1,
                const PartFiller& fillPart = nullptr);

// Writes the whole text of a scene to a descriptor: false, with errno set, when
// a write failed.
using TextWriter = std::function<bool(int fd)>;
// What writeScene does with the text writeText makes: the same targets, the
// same temporary file and the same failure lines.
bool writeSceneText(const std::string& outputPath, const TextWriter& writeText, std::string& failure,
                    TemporaryWatch watch = nullptr);

// True when output (empty: standard output, wherever the shell sent it) is the
// existing file at input, through links or otherwise.
bool isSameFile(const std::string& input, const std::string& output);
// The line for a run refused because its output is its input.
std::string sameFileLine(const std::string& input, const std::string& output);

}  // namespace kestrav
