#include "cli/ModelTree.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <set>
#include <utility>

namespace kestrav {

namespace {
using FolderId = std::pair<dev_t, ino_t>;

bool endsWith3ds(const std::string& name) {
    if (name.size() <= 4 || name[name.size() - 4] != '.') return false;
    const char* end = name.c_str() + name.size() - 3;
    return (end[0] | 0x20) == '3' && (end[1] | 0x20) == 'd' && (end[2] | 0x20) == 's';
}

std::string withoutTrailingSlashes(std::string path) {
    while (path.size() > 1 && path.back() == '/') path.pop_back();
    return path;
}

bool folderIdOf(const std::string& path, FolderId& id) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    id = {info.st_dev, info.st_ino};
    return true;
}

// Depth first with a stack of its own, so no tree is too deep to walk.
void collectModels(const std::string& top, std::set<FolderId>& visited, ModelTree& tree) {
    std::vector<std::string> pending{withoutTrailingSlashes(top)};
    std::vector<std::string> found;
    while (!pending.empty()) {
        const std::string folder = std::move(pending.back());
        pending.pop_back();
        DIR* directory = opendir(folder.c_str());
        if (!directory) {
            tree.unlistedFolders.push_back({folder, std::strerror(errno)});
            continue;
        }
        const std::string prefix = folder == "/" ? folder : folder + "/";
        while (const dirent* entry = readdir(directory)) {
            const std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            const std::string path = prefix + name;
            struct stat info;
            const bool known = entry->d_type != DT_LNK && entry->d_type != DT_UNKNOWN;
            if (known && entry->d_type != DT_DIR) {
                if (entry->d_type == DT_REG && endsWith3ds(name)) found.push_back(path);
                continue;
            }
            // A link is followed; a broken one is nothing.
            if (stat(path.c_str(), &info) != 0) continue;
            if (S_ISDIR(info.st_mode)) {
                if (visited.insert({info.st_dev, info.st_ino}).second) pending.push_back(path);
            } else if (S_ISREG(info.st_mode) && endsWith3ds(name)) {
                found.push_back(path);
            }
        }
        closedir(directory);
    }
    std::sort(found.begin(), found.end());
    tree.models.insert(tree.models.end(), found.begin(), found.end());
}

void addRoot(const std::string& root, ModelTree& tree) {
    if (std::find(tree.archiveRoots.begin(), tree.archiveRoots.end(), root) == tree.archiveRoots.end())
        tree.archiveRoots.push_back(root);
}
}  // namespace

ModelTree findModels(const std::vector<std::string>& names, bool recursive, const std::string& skipFolder) {
    ModelTree tree;
    if (!recursive) {
        tree.models = names;
        return tree;
    }
    std::set<FolderId> visited;
    FolderId output;
    if (folderIdOf(skipFolder, output)) visited.insert(output);
    for (const std::string& name : names) {
        FolderId id;
        if (!folderIdOf(name, id)) {
            tree.models.push_back(name);
            const size_t slash = name.find('/');
            if (slash != std::string::npos && slash != 0) addRoot(name.substr(0, slash), tree);
            continue;
        }
        if (!visited.insert(id).second) continue;
        addRoot(withoutTrailingSlashes(name), tree);
        collectModels(name, visited, tree);
    }
    return tree;
}

bool readNameList(const std::string& path, std::vector<std::string>& names, std::string& failure) {
    const bool standardInput = path == "-";
    FILE* file = standardInput ? stdin : std::fopen(path.c_str(), "r");
    if (!file) {
        failure = std::strerror(errno);
        return false;
    }
    std::string line;
    char block[64 * 1024];
    size_t count;
    while ((count = std::fread(block, 1, sizeof block, file)) > 0) {
        for (size_t i = 0; i < count; ++i) {
            if (block[i] != '\n') {
                line += block[i];
                continue;
            }
            if (!line.empty()) names.push_back(line);
            line.clear();
        }
    }
    const bool failed = std::ferror(file);
    if (failed) failure = std::strerror(errno);
    if (!line.empty()) names.push_back(line);
    if (!standardInput) std::fclose(file);
    return !failed;
}

}  // namespace kestrav
