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
// Memory ran out: no scene, and one line that says so.
void outOfMemory(Conversion& conversion, const std::string& modelName) {
    ConversionScene::hold(conversion, nullptr);
    conversion.status = Outcome::OutOfMemory;
    conversion.messages.clear();
    conversion.messages.push_back({Message::Kind::Error, outOfMemoryLine(modelName)});
}

// One conversion by converter of the model that read(converter) reads;
// modelName is the model's in the lines for the user. With frameOnly the
// scene is the frame that the converter's buildPart fills. figures, when
// given, gets what was made.
template <class Read>
Conversion convertModel(SceneConverter& converter, const std::string& modelName, const ImageWriting& writing,
                        Read read, ConversionFigures* figures = nullptr, bool frameOnly = false) {
    if (!SoDB::isInitialized()) SoDB::init();
    Conversion conversion;
    try {
        conversion.status = read(converter);
        const bool readable = conversion.status != Outcome::Unreadable && conversion.status != Outcome::OutOfMemory;
        SoSeparator* root = !readable ? nullptr : frameOnly ? converter.buildFrame() : converter.build();
        conversion.messages = converter.messages();
        if (root) {
            // A frame has no image nodes yet; it is never portable.
            std::vector<std::string> imageNotes;
            if (frameOnly)
                checkImages(converter.imageNames(), converter.sceneFolder(), imageNotes);
            else
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
        outOfMemory(conversion, modelName);
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
    SceneConverter converter(options, scenePath);
    return convertModel(converter, path, writing, [&](SceneConverter& c) { return c.read(path); });
}
}  // namespace

Conversion convert(const std::string& path, const Options& options, const std::string& scenePath) {
    return convertWith(path, options, scenePath, imageWriting(options, nullptr, nullptr));
}

Conversion convert(const void* bytes, std::size_t size, const Options& options, const std::string& scenePath) {
    SceneConverter converter(options, scenePath);
    return convertModel(converter, kModelInMemory, imageWriting(options, nullptr, nullptr),
                        [&](SceneConverter& c) { return c.read(bytes, size); });
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

StreamedConversion::StreamedConversion(const std::string& path, const Options& options, const std::string& scenePath,
                                       const TextureArchive* archive)
    : converter(new SceneConverter(options, scenePath, archive)) {
    result = convertModel(*converter, path, imageWriting(options, nullptr, nullptr),
                          [&](SceneConverter& c) { return c.read(path); }, nullptr, true);
}

StreamedConversion::~StreamedConversion() = default;

ConversionFigures StreamedConversion::figures() const { return converter->figures(); }

bool StreamedConversion::write(const std::string& outputPath, std::string& failure, SceneFormat format,
                               TemporaryWatch watch, size_t threads) {
    SceneConverter& parts = *converter;
    return writeScene(result.root(), outputPath, failure, format, watch, threads,
                      [&parts](const SoNode* node) { return parts.buildPart(node); });
}

Conversion convertToFileWatched(const std::string& path, const std::string& outputPath, const Options& options,
                                TemporaryWatch watch, ImageTurn* imageTurn, const TextureArchive* archive,
                                ConversionFigures* figures, SceneUse use) {
    // Writing the scene over its own model would lose the model.
    if (isSameFile(path, outputPath)) {
        Conversion refused;
        refused.status = Outcome::NotWritten;
        refused.messages.push_back({Message::Kind::Error, sameFileLine(path, outputPath)});
        return refused;
    }
    const SceneFormat format = options.binary ? SceneFormat::Binary : SceneFormat::Ascii;
    std::string failure;
    if (use == SceneUse::WrittenOnly && StreamedConversion::canStream(options)) {
        StreamedConversion streamed(path, options, outputPath, archive);
        Conversion& conversion = streamed.conversion();
        if (figures && conversion.root()) *figures = streamed.figures();
        if (!conversion.root()) return std::move(conversion);
        try {
            if (!streamed.write(outputPath, failure, format, watch, threadsFor(options.threads))) {
                conversion.status = Outcome::NotWritten;
                conversion.messages.push_back({Message::Kind::Error, failure});
            }
        } catch (const std::bad_alloc&) {
            outOfMemory(conversion, path);
        }
        return std::move(conversion);
    }
    SceneConverter converter(options, outputPath, archive);
    Conversion conversion =
        convertModel(converter, path, imageWriting(options, watch, imageTurn),
                     [&](SceneConverter& c) { return c.read(path); }, figures);
    if (!conversion.root()) return conversion;
    if (!writeScene(conversion.root(), outputPath, failure, format, watch, threadsFor(options.threads))) {
        conversion.status = Outcome::NotWritten;
        conversion.messages.push_back({Message::Kind::Error, failure});
    }
    return conversion;
}

Conversion convertToFile(const std::string& path, const std::string& outputPath, const Options& options) {
    return convertToFileWatched(path, outputPath, options, nullptr);
}

}  // namespace kestrav
