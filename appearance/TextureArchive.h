#pragma once

// Every file name below a set of folders (an archive of models and their
// images), listed once so that many conversions can look images up in it
// without listing a folder again. An image is looked for nearest to its model
// first: the model folder's parent, the folders below the parent, then the
// grandparent and the folders below it, and so on up to the top of the
// archive; at each level nearer folders first, then in path order; in each
// folder the exact name first, then the other ASCII letter cases in byte
// order. The model folder and its direct subfolders are left to TextureLookup,
// which searches them before the archive.

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <string>
#include <utility>
#include <vector>

namespace kestrav {

class TextureArchive {
public:
    // Lists every folder below each top once: a symbolic link to a folder is
    // followed once, and a folder that cannot be listed holds nothing.
    explicit TextureArchive(const std::vector<std::string>& tops);
    TextureArchive(const TextureArchive&) = delete;
    TextureArchive& operator=(const TextureArchive&) = delete;

    // The readable regular file named name in any letter case nearest to
    // modelFolder, as a path through the folder's real location; empty when
    // there is none or modelFolder is outside the archive.
    std::string find(const std::string& modelFolder, const std::string& name) const;

    size_t folderCount() const { return folders.size(); }
    size_t fileCount() const { return files.size(); }

private:
    static const uint32_t kNoParent = UINT32_MAX;
    struct Folder {
        std::string path;  // the top's real path joined with the names below it
        uint32_t parent;
        uint32_t depth;
        uint32_t pathOrder = 0;  // rank of path among all folders' paths
    };
    struct File {
        uint64_t foldedHash;
        uint32_t folder;
        uint32_t name;  // index into names
        bool operator<(const File& other) const { return foldedHash < other.foldedHash; }
    };

    void list(const std::string& top, std::map<std::pair<dev_t, ino_t>, uint32_t>& seen);

    std::vector<Folder> folders;
    std::map<std::pair<dev_t, ino_t>, uint32_t> folderById;
    std::vector<std::string> names;
    std::vector<File> files;  // sorted by foldedHash
};

}  // namespace kestrav
