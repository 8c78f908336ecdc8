#include "appearance/ImageExport.h"

#include <Inventor/nodes/SoBumpMap.h>
#include <Inventor/nodes/SoTexture2.h>
#include <fcntl.h>
#include <stdio.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <map>

#include "appearance/ImageDecoder.h"
#include "appearance/ImageFormat.h"
#include "appearance/NodesOfType.h"
#include "appearance/SgiRgbWriter.h"
#include "appearance/TextureImages.h"

namespace kestrav {

namespace fs = std::filesystem;

namespace {
const off_t kLargestImageFile = off_t(512) << 20;
// wood.rgb, wood-2.rgb, ... wood-999.rgb.
const int kMostSameNames = 999;

// Calls visit with the filename field of every SoTexture2, then of every SoBumpMap.
template <class Visit>
void forEachImageField(SoNode* root, Visit visit) {
    for (const SoType type : {SoTexture2::getClassTypeId(), SoBumpMap::getClassTypeId()})
        for (SoNode* node : nodesOfType(root, type))
            visit(type == SoTexture2::getClassTypeId() ? static_cast<SoTexture2*>(node)->filename
                                                       : static_cast<SoBumpMap*>(node)->filename);
}

// Where the image the scene names lies.
std::string imagePath(const std::string& folder, const std::string& name) {
    return fs::path(name).is_absolute() ? name : folder + "/" + name;
}

// The image names of the scene, each once, in that order.
std::vector<std::string> imageNames(SoNode* root) {
    std::vector<std::string> names;
    forEachImageField(root, [&names](SoSFString& filename) {
        const std::string name = filename.getValue().getString();
        if (!name.empty() && std::find(names.begin(), names.end(), name) == names.end()) names.push_back(name);
    });
    return names;
}

void renameImages(SoNode* root, const std::map<std::string, std::string>& newNames) {
    forEachImageField(root, [&newNames](SoSFString& filename) {
        const auto found = newNames.find(filename.getValue().getString());
        if (found != newNames.end()) referenceTextureImage(filename, found->second.c_str());
    });
}

// The whole file, or false with why not.
bool readImageFile(const std::string& path, std::string& bytes, std::string& failure) {
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) {
        failure = std::strerror(errno);
        return false;
    }
    struct stat status;
    if (fstat(fileno(file), &status) != 0 || !S_ISREG(status.st_mode)) {
        failure = "it is not a regular file";
    } else if (status.st_size > kLargestImageFile) {
        failure = "it is larger than 512 MiB";
    } else {
        bytes.resize(size_t(status.st_size));
        const size_t count = std::fread(&bytes[0], 1, bytes.size(), file);
        if (count == bytes.size() && std::fgetc(file) == EOF) failure.clear();
        else failure = ferror(file) ? std::strerror(errno) : "it changed while it was read";
    }
    std::fclose(file);
    return failure.empty();
}

std::string inQuotes(const std::string& name) { return "\"" + name + "\""; }

// wood.rgb, then wood-2.rgb, wood-3.rgb, ...
std::string numberedName(const std::string& name, int number) {
    if (number == 1) return name;
    const size_t dot = name.rfind('.');
    const size_t stem = dot == std::string::npos || dot == 0 ? name.size() : dot;
    return name.substr(0, stem) + "-" + std::to_string(number) + name.substr(stem);
}

enum class Existing { None, Same, Other };

Existing existing(const std::string& path, const std::string& bytes) {
    struct stat status;
    if (lstat(path.c_str(), &status) != 0) return errno == ENOENT ? Existing::None : Existing::Other;
    if (!S_ISREG(status.st_mode) || status.st_size != off_t(bytes.size())) return Existing::Other;
    std::string there, failure;
    return readImageFile(path, there, failure) && there == bytes ? Existing::Same : Existing::Other;
}

// Gives path the bytes unless a file already has that name: written beside,
// then renamed without replacing, so nothing is ever seen half-written.
// False with errno EEXIST when the name was taken meanwhile.
bool createFile(const std::string& folder, const std::string& path, const std::string& bytes,
                const ImageWriting& writing) {
    std::string temporary = folder + "/" + writing.temporaryTemplate;
    if (writing.watch) writing.watch(nullptr);
    const int fd = mkostemp(&temporary[0], O_CLOEXEC);
    if (fd < 0) return false;
    if (writing.watch) writing.watch(temporary.c_str());
    const mode_t mask = umask(0);
    umask(mask);
    bool complete = true;
    for (size_t done = 0; complete && done < bytes.size();) {
        const ssize_t count = write(fd, bytes.data() + done, bytes.size() - done);
        if (count < 0 && errno == EINTR) continue;
        complete = count > 0;
        if (complete) done += size_t(count);
    }
    complete = complete && fchmod(fd, 0666 & ~mask) == 0 && fsync(fd) == 0;
    int savedErrno = errno;
    complete = close(fd) == 0 && complete;
    if (complete && renameat2(AT_FDCWD, temporary.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) {
        if (writing.watch) writing.watch(nullptr);
        return true;
    }
    // A file system that cannot rename without replacing can still link.
    if (complete && errno == EINVAL) complete = link(temporary.c_str(), path.c_str()) == 0;
    savedErrno = errno;
    unlink(temporary.c_str());
    if (writing.watch) writing.watch(nullptr);
    errno = savedErrno;
    return complete;
}

// The name the image has in folder: a file with the same bytes is shared,
// one with other bytes makes the next numbered name. Empty, with failure set,
// when it could not be written.
std::string place(const std::string& folder, const PortableImage& image, const ImageWriting& writing,
                  std::string& failure) {
    for (int number = 1; number <= kMostSameNames; ++number) {
        const std::string name = numberedName(image.name, number);
        const std::string path = folder + "/" + name;
        const Existing there = existing(path, image.bytes);
        if (there == Existing::Same) return name;
        if (there == Existing::Other) continue;
        if (createFile(folder, path, image.bytes, writing)) return name;
        if (errno != EEXIST) {
            failure = std::strerror(errno);
            return "";
        }
        --number;  // taken meanwhile: look at it again
    }
    failure = "the folder already holds " + std::to_string(kMostSameNames) + " other images of that name";
    return "";
}

// Hands the turn back however the writing ends.
class HeldTurn {
public:
    explicit HeldTurn(ImageTurn* imageTurn) : turn(imageTurn) {
        if (turn) turn->take();
    }
    ~HeldTurn() {
        if (turn) turn->give();
    }
    HeldTurn(const HeldTurn&) = delete;
    HeldTurn& operator=(const HeldTurn&) = delete;

private:
    ImageTurn* turn;
};
}  // namespace

PortableImage portableImage(const std::string& fileName, std::string bytes) {
    PortableImage image;
    const ImageFormat format =
        imageFormatOf(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), fileName);
    if (bytes.empty()) {
        image.failure = "the file is empty";
    } else if (format == ImageFormat::Jpeg || format == ImageFormat::SgiRgb) {
        image.ready = true;
        image.name = fileName;
        image.bytes = std::move(bytes);
    } else if (format == ImageFormat::Unknown) {
        image.failure = "it is not in an image format kestrav knows";
    } else {
        DecodedImage decoded = decodeImage(bytes, format);
        if (!decoded.decoded) {
            image.failure = decoderName(format) ? std::string("its ") + imageFormatName(format) +
                                                      " image cannot be decoded: " + decoded.failure
                                                : decoded.failure;
            return image;
        }
        bytes.clear();
        bytes.shrink_to_fit();
        const size_t dot = fileName.rfind('.');
        image.ready = true;
        image.name = fileName.substr(0, dot == std::string::npos || dot == 0 ? fileName.size() : dot) + ".rgb";
        image.bytes = encodeSgiRgb(decoded.image);
    }
    return image;
}

void checkImages(const std::vector<std::string>& names, const std::string& sceneFolder,
                 std::vector<std::string>& messages) {
    const std::string folder = sceneFolder.empty() ? "." : sceneFolder;
    for (const std::string& name : names) {
        // Only the signature is needed.
        unsigned char head[128];
        FILE* file = std::fopen(imagePath(folder, name).c_str(), "rb");
        if (!file) continue;
        const size_t size = std::fread(head, 1, sizeof head, file);
        std::fclose(file);
        const ImageFormat format = imageFormatOf(head, size, name);
        if (format == ImageFormat::Unknown || coinLoads(format)) continue;
        std::string line = "Texture " + inQuotes(name) + " is " + (format == ImageFormat::Cel ? "an " : "a ") +
                           imageFormatName(format) + " image, which Coin cannot load";
        messages.push_back(line + (decoderName(format) ? "; -p writes it as SGI RGB beside the scene." : "."));
    }
}

void exportImages(SoNode* root, const std::string& sceneFolder, const ImageWriting& writing,
                  std::vector<std::string>& messages) {
    if (!writing.portable) {
        checkImages(imageNames(root), sceneFolder, messages);
        return;
    }
    const std::string folder = sceneFolder.empty() ? "." : sceneFolder;
    std::vector<std::pair<std::string, PortableImage>> ready;  // by scene name
    for (const std::string& name : imageNames(root)) {
        const std::string path = imagePath(folder, name);
        std::string bytes, failure;
        const std::string fileName = fs::path(name).filename().string();
        PortableImage image;
        if (fileName.empty() || fileName == "." || fileName == "..")
            image.failure = "its name is no file name";
        else if (readImageFile(path, bytes, failure))
            image = portableImage(fileName, std::move(bytes));
        else
            image.failure = failure;
        if (image.ready)
            ready.emplace_back(name, std::move(image));
        else
            messages.push_back("Cannot put texture " + inQuotes(name) + " beside the scene: " + image.failure +
                               "; the scene names it where it was found.");
    }
    if (ready.empty()) return;
    std::map<std::string, std::string> newNames;
    {
        HeldTurn held(writing.turn);
        for (auto& [name, image] : ready) {
            std::string failure;
            const std::string placed = place(folder, image, writing, failure);
            if (placed.empty())
                messages.push_back("Cannot write texture " + inQuotes(image.name) + " beside the scene: " + failure +
                                   "; the scene names it where it was found.");
            else
                newNames[name] = placed;
            image.bytes.clear();
            image.bytes.shrink_to_fit();
        }
    }
    renameImages(root, newNames);
}

}  // namespace kestrav
