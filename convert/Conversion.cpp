// The library's entry points: each call is one conversion, with nothing kept
// between calls.

#include "convert/Conversion.h"

#include <Inventor/SoDB.h>
#include <Inventor/nodes/SoSeparator.h>

#include <new>
#include <utility>

#include "convert/ProcessorCount.h"
#include "convert/SceneConverter.h"
#include "convert/SceneWriter.h"
#include "kestrav/kestrav.h"

namespace kestrav {

Conversion::~Conversion() {
    if (scene) scene->unref();
}

Conversion::Conversion(Conversion&& other) noexcept
    : status(other.status), messages(std::move(other.messages)), hasBackground(other.hasBackground),
      scene(std::exchange(other.scene, nullptr)) {
    for (int i = 0; i < 3; ++i) background[i] = other.background[i];
}

Conversion& Conversion::operator=(Conversion&& other) noexcept {
    if (this == &other) return *this;
    if (scene) scene->unref();
    scene = std::exchange(other.scene, nullptr);
    status = other.status;
    messages = std::move(other.messages);
    hasBackground = other.hasBackground;
    for (int i = 0; i < 3; ++i) background[i] = other.background[i];
    return *this;
}

SoSeparator* Conversion::release() { return std::exchange(scene, nullptr); }

void ConversionScene::hold(Conversion& conversion, SoSeparator* root) {
    if (conversion.scene) conversion.scene->unref();
    conversion.scene = root;
}

namespace {
// One conversion of the model that read(converter) reads; modelName is the
// model's in the lines for the user. Images not found beside the model are
// looked for in archive (null: none); figures, when given, gets what was made.
template <class Read>
Conversion convertModel(const std::string& modelName, const Options& options, const std::string& scenePath,
                        const ImageWriting& writing, Read read, const TextureArchive* archive = nullptr,
                        ConversionFigures* figures = nullptr) {
    if (!SoDB::isInitialized()) SoDB::init();
    SceneConverter converter(options, scenePath, archive);
    Conversion conversion;
    try {
        conversion.status = read(converter);
        const bool readable = conversion.status != Outcome::Unreadable && conversion.status != Outcome::OutOfMemory;
        SoSeparator* root = readable ? converter.build() : nullptr;
        conversion.messages = converter.messages();
        if (root) {
            std::vector<std::string> imageNotes;
            exportImages(root, converter.sceneFolder(), writing, imageNotes);
            for (std::string& note : imageNotes) conversion.messages.push_back({Message::Kind::Note, std::move(note)});
        }
        // Taken last, so a throw above leaves the root to the converter.
        if (readable) {
            conversion.hasBackground = converter.background(conversion.background);
            if (figures) *figures = converter.figures();
            ConversionScene::hold(conversion, converter.takeRoot());
        }
    } catch (const std::bad_alloc&) {
        // The converter releases the part of the scene built so far.
        conversion.status = Outcome::OutOfMemory;
        conversion.messages.clear();
        conversion.messages.push_back({Message::Kind::Error, outOfMemoryLine(modelName)});
    }
    return conversion;
}

ImageWriting imageWriting(const Options& options, TemporaryWatch watch, ImageTurn* turn) {
    ImageWriting writing;
    writing.portable = options.portable;
    writing.temporaryTemplate = kTemporarySceneName;
    writing.watch = watch;
    writing.turn = turn;
    return writing;
}

Conversion convertWith(const std::string& path, const Options& options, const std::string& scenePath,
                       const ImageWriting& writing) {
    return convertModel(path, options, scenePath, writing,
                        [&](SceneConverter& converter) { return converter.read(path); });
}
}  // namespace

Conversion convert(const std::string& path, const Options& options, const std::string& scenePath) {
    return convertWith(path, options, scenePath, imageWriting(options, nullptr, nullptr));
}

Conversion convert(const void* bytes, std::size_t size, const Options& options, const std::string& scenePath) {
    return convertModel(kModelInMemory, options, scenePath, imageWriting(options, nullptr, nullptr),
                        [&](SceneConverter& converter) { return converter.read(bytes, size); });
}

Conversion convertWatched(const std::string& path, const Options& options, const std::string& scenePath,
                          TemporaryWatch watch) {
    return convertWith(path, options, scenePath, imageWriting(options, watch, nullptr));
}

bool write(SoNode* root, const std::string& path, std::string* failure, bool binary, unsigned threads) {
    if (!SoDB::isInitialized()) SoDB::init();
    std::string line;
    const bool written =
        writeScene(root, path, line, binary ? SceneFormat::Binary : SceneFormat::Ascii, nullptr, threadsFor(threads));
    if (!written && failure) *failure = line;
    return written;
}

Conversion convertToFileWatched(const std::string& path, const std::string& outputPath, const Options& options,
                                TemporaryWatch watch, ImageTurn* imageTurn, const TextureArchive* archive,
                                ConversionFigures* figures) {
    // Writing the scene over its own model would lose the model.
    if (isSameFile(path, outputPath)) {
        Conversion refused;
        refused.status = Outcome::NotWritten;
        refused.messages.push_back({Message::Kind::Error, sameFileLine(path, outputPath)});
        return refused;
    }
    Conversion conversion = convertModel(
        path, options, outputPath, imageWriting(options, watch, imageTurn),
        [&](SceneConverter& converter) { return converter.read(path); }, archive, figures);
    if (!conversion.root()) return conversion;
    std::string failure;
    if (!writeScene(conversion.root(), outputPath, failure, options.binary ? SceneFormat::Binary : SceneFormat::Ascii,
                    watch, threadsFor(options.threads))) {
        conversion.status = Outcome::NotWritten;
        conversion.messages.push_back({Message::Kind::Error, failure});
    }
    return conversion;
}

Conversion convertToFile(const std::string& path, const std::string& outputPath, const Options& options) {
    return convertToFileWatched(path, outputPath, options, nullptr);
}

}  // namespace kestrav
