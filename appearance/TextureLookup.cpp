#include "appearance/TextureLookup.h"

#include "appearance/ImageFile.h"
#include "appearance/TextureArchive.h"

#include <dirent.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>

namespace kestrav {

namespace fs = std::filesystem;

namespace {
const char* const kMissingStart = "Cannot find texture file \"";
const char* const kMissingEnd = "\".";
const char* const kUsingStart = "Using \"";
const char* const kUsingMiddle = "\" for texture file \"";
const char* const kUsingEnd = "\".";

bool isAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

struct StoredName {
    std::string lastComponent;  // empty when there is nothing to look for
    bool usableAsStored = false;
};

// Names come from DOS and Windows: \ separates folders and C: names a drive.
// A name that climbs out of its folder is not followed; only its last
// component is looked for.
StoredName analyse(const std::string& stored) {
    std::string path = stored;
    std::replace(path.begin(), path.end(), '\\', '/');
    if (path.size() >= 2 && path[1] == ':' && isAsciiLetter(path[0])) path.erase(0, 2);
    bool upward = false;
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        if (path.compare(start, end - start, "..") == 0) upward = true;
        start = end + 1;
    }
    StoredName name;
    name.lastComponent = path.substr(path.rfind('/') + 1);
    if (name.lastComponent == "." || name.lastComponent == "..") name.lastComponent.clear();
    name.usableAsStored = !upward && !name.lastComponent.empty();
    return name;
}
}  // namespace

TextureLookup::TextureLookup(const std::string& model, const std::string& sceneFolder, const char* search,
                             std::vector<std::string>& lines, const TextureArchive* textureArchive)
    : messages(lines), archive(textureArchive),
      modelPath(model), sceneFolderPath(sceneFolder), searchPath(search ? search : "") {}

const char* TextureLookup::sceneName(const char* storedName) {
    auto known = images.find(storedName);
    if (known == images.end()) known = images.emplace(storedName, find(storedName)).first;
    if (!known->second.found) {
        if (!known->second.reported) messages.push_back(kMissingStart + known->first + kMissingEnd);
        known->second.reported = true;
        return nullptr;
    }
    return known->second.sceneName.c_str();
}

TextureLookup::Image TextureLookup::find(const std::string& stored) {
    resolveSceneFolder();
    const StoredName name = analyse(stored);
    Image image;
    if (name.usableAsStored && isReadableFile(stored)) {
        image.found = true;
        // Scenes written where the images are keep the name as the model has it.
        if (sceneIsCurrentDirectory || fs::path(stored).is_absolute())
            image.sceneName = stored;
        else
            image.sceneName = sceneNameOf(currentDirectory / stored);
        return image;
    }
    if (name.lastComponent.empty()) return image;
    fs::path file;
    // The exact name beside the model is found without listing the folder.
    std::error_code error;
    const fs::path besideModel = fs::canonical(modelFolder(), error);
    if (!error && isReadableFile(besideModel / name.lastComponent)) {
        file = besideModel / name.lastComponent;
    } else {
        planSearch();
        for (SearchFolder& folder : searchOrder) {
            if (!folder.listing) folder.listing = &folderAt(folder.path);
            if (const std::string* entry = findIn(*folder.listing, name.lastComponent)) {
                file = folder.listing->path / *entry;
                break;
            }
        }
        if (file.empty() && archive) file = archive->find(modelFolder().string(), name.lastComponent);
    }
    if (file.empty()) return image;
    image.found = true;
    image.sceneName = sceneNameOf(file);
    messages.push_back(kUsingStart + image.sceneName + kUsingMiddle + stored + kUsingEnd);
    return image;
}

size_t TextureLookup::foundCount() const {
    size_t found = 0;
    for (const auto& image : images) found += image.second.found;
    return found;
}

fs::path TextureLookup::modelFolder() const {
    const fs::path folder = fs::path(modelPath).parent_path();
    return folder.empty() ? fs::path(".") : folder;
}

const std::string* TextureLookup::findIn(const Folder& folder, const std::string& name) const {
    const uint64_t hash = foldedHash(name);
    std::vector<const std::string*> variants;
    auto entry = std::lower_bound(folder.byFoldedName.begin(), folder.byFoldedName.end(), std::make_pair(hash, 0u));
    for (; entry != folder.byFoldedName.end() && entry->first == hash; ++entry)
        if (sameIgnoringCase(folder.names[entry->second], name)) variants.push_back(&folder.names[entry->second]);
    // The exact name first, then the other case variants in byte order,
    // whatever order the directory gave them in.
    std::sort(variants.begin(), variants.end(), [&name](const std::string* a, const std::string* b) {
        if ((*a == name) != (*b == name)) return *a == name;
        return *a < *b;
    });
    for (const std::string* variant : variants)
        if (isReadableFile(folder.path / *variant)) return variant;
    return nullptr;
}

const TextureLookup::Folder& TextureLookup::folderAt(const fs::path& path) {
    std::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    // Every folder that cannot be reached shares the empty entry.
    const std::string key = error ? std::string() : resolved.string();
    const auto known = folders.find(key);
    if (known != folders.end()) return known->second;
    Folder& folder = folders[key];
    if (error) return folder;
    folder.path = resolved;
    // readdir rather than a directory_iterator: half the time for a folder of
    // many files, since no path is made per entry.
    DIR* directory = opendir(resolved.c_str());
    if (!directory) return folder;
    while (const dirent* entry = readdir(directory)) {
        std::string name = entry->d_name;
        if (name == "." || name == "..") continue;
        std::error_code typeError;
        const bool linkOrUnknown = entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN;
        if (entry->d_type == DT_DIR || (linkOrUnknown && fs::is_directory(fs::status(resolved / name, typeError))))
            folder.subfolders.push_back(name);
        folder.byFoldedName.emplace_back(foldedHash(name), uint32_t(folder.names.size()));
        folder.names.push_back(std::move(name));
    }
    closedir(directory);
    std::sort(folder.byFoldedName.begin(), folder.byFoldedName.end());
    std::sort(folder.subfolders.begin(), folder.subfolders.end());
    return folder;
}

void TextureLookup::planSearch() {
    if (searchPlanned) return;
    searchPlanned = true;
    // The subfolders are known only from the model folder's listing.
    const Folder& beside = folderAt(modelFolder());
    searchOrder.push_back({beside.path, &beside});
    for (const std::string& subfolder : beside.subfolders) searchOrder.push_back({beside.path / subfolder, nullptr});
    for (size_t start = 0; start <= searchPath.size();) {
        size_t end = searchPath.find(':', start);
        if (end == std::string::npos) end = searchPath.size();
        if (end > start) searchOrder.push_back({searchPath.substr(start, end - start), nullptr});
        start = end + 1;
    }
}

void TextureLookup::resolveSceneFolder() {
    if (sceneResolved) return;
    sceneResolved = true;
    std::error_code error;
    currentDirectory = fs::current_path(error);
    if (sceneFolderPath.empty()) {
        sceneBase = currentDirectory;
        sceneIsCurrentDirectory = true;
        return;
    }
    // Resolved like the image folders, so that "../" steps out of the real
    // folder, as the system resolves it when the scene is read.
    sceneBase = fs::weakly_canonical(currentDirectory / sceneFolderPath, error);
    if (error) sceneBase = (currentDirectory / sceneFolderPath).lexically_normal();
    if (sceneBase.has_relative_path() && sceneBase.filename().empty()) sceneBase = sceneBase.parent_path();
    sceneIsCurrentDirectory = sceneBase == currentDirectory;
}

std::string TextureLookup::sceneNameOf(const fs::path& file) const {
    const fs::path relative = file.lexically_relative(sceneBase);
    return relative.empty() ? file.string() : relative.string();
}

std::string sceneFolderOf(const std::string& outputPath) {
    if (outputPath.empty()) return "";
    std::error_code error;
    const fs::file_status target = fs::status(outputPath, error);
    if (fs::exists(target)) {
        // Whoever reads a pipe or a device reads it from a folder unknown here.
        if (!fs::is_regular_file(target)) return "";
        // A link is written through: the scene lands where it points.
        const fs::path real = fs::canonical(outputPath, error);
        if (!error) return real.parent_path().string();
    }
    return fs::path(outputPath).parent_path().string();
}

}  // namespace kestrav
