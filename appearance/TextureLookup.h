#pragma once

// A 3DS file names its images as the program that wrote it saw them, often an
// upper-case DOS name or path (IMAGE1.JPG, MAPS\WOOD.JPG), while the files sit
// beside the model, in a folder next to it, or in lower case. An image is
// looked for, in this order:
//   1. under the name as stored, relative to the current directory;
//   2. under its last path component in the model's folder, then in each of
//      that folder's direct subfolders by name, then in each folder of the
//      search path; in each folder the exact name first, then a name
//      that differs only in the case of ASCII letters (of several such, the
//      first in byte order);
//   3. in the archive, when one is given (see TextureArchive).
// Only regular files that open for reading match. Each folder is listed at
// most once, so one look-up serves one conversion.

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

namespace kestrav {

class TextureArchive;

class TextureLookup {
public:
    // sceneFolder is the folder the scene's image names must resolve from,
    // empty for the current directory; searchPath is a colon-separated list of
    // folders, or null. The lines for the user are appended to messages,
    // which must outlive the look-up, as must archive (null: none).
    TextureLookup(const std::string& modelPath, const std::string& sceneFolder, const char* searchPath,
                  std::vector<std::string>& messages, const TextureArchive* archive = nullptr);
    TextureLookup(const TextureLookup&) = delete;
    TextureLookup& operator=(const TextureLookup&) = delete;

    // The name the scene gives the image stored as storedName, or null when no
    // file is found. A missing image, or one found under another name or
    // folder, is reported the first time it is asked for.
    const char* sceneName(const char* storedName);

    const std::string& sceneFolder() const { return sceneFolderPath; }
    // How many of the distinct names asked for were found, and how many not.
    size_t foundCount() const;
    size_t missingCount() const { return images.size() - foundCount(); }

private:
    struct Folder {
        std::filesystem::path path;      // resolved, so relative names can be computed
        std::vector<std::string> names;  // as the directory lists them
        // (hash of the name in ASCII lower case, position in names), sorted:
        // cheaper to build for a folder of thousands than sorted names.
        std::vector<std::pair<uint64_t, uint32_t>> byFoldedName;
        std::vector<std::string> subfolders;  // byte order
    };
    // A folder to search, listed when a name first gets that far.
    struct SearchFolder {
        std::filesystem::path path;
        const Folder* listing;
    };
    struct Image {
        bool found = false;
        bool reported = false;  // a missing image's line was given
        std::string sceneName;
    };

    Image find(const std::string& storedName);
    const std::string* findIn(const Folder& folder, const std::string& name) const;
    const Folder& folderAt(const std::filesystem::path& path);
    std::filesystem::path modelFolder() const;
    void planSearch();
    void resolveSceneFolder();
    std::string sceneNameOf(const std::filesystem::path& file) const;

    std::vector<std::string>& messages;
    const TextureArchive* archive;
    std::string modelPath;
    std::string sceneFolderPath;
    std::string searchPath;
    std::map<std::string, Image> images;    // by stored name
    std::map<std::string, Folder> folders;  // by resolved path
    std::vector<SearchFolder> searchOrder;
    bool searchPlanned = false;
    std::filesystem::path currentDirectory;
    std::filesystem::path sceneBase;
    bool sceneIsCurrentDirectory = false;
    bool sceneResolved = false;
};

// The folder the scene's image names are relative to: the output file's, or
// empty for the current directory (an empty output path for standard output or
// no output at all, or an output that is not a regular file, such as a pipe).
std::string sceneFolderOf(const std::string& outputPath);

}  // namespace kestrav
