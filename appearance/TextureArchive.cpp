#include "appearance/TextureArchive.h"

#include <dirent.h>
#include <sys/stat.h>

#include <algorithm>
#include <filesystem>
#include <tuple>

#include "appearance/ImageFile.h"

namespace kestrav {

TextureArchive::TextureArchive(const std::vector<std::string>& tops) {
    for (const std::string& top : tops) list(top, folderById);
    std::vector<uint32_t> byPath(folders.size());
    for (uint32_t i = 0; i < byPath.size(); ++i) byPath[i] = i;
    std::sort(byPath.begin(), byPath.end(),
              [this](uint32_t a, uint32_t b) { return folders[a].path < folders[b].path; });
    for (uint32_t rank = 0; rank < byPath.size(); ++rank) folders[byPath[rank]].pathOrder = rank;
    std::sort(files.begin(), files.end());
}

void TextureArchive::list(const std::string& top, std::map<std::pair<dev_t, ino_t>, uint32_t>& seen) {
    std::error_code error;
    const std::string real = std::filesystem::canonical(top, error).string();
    struct stat info;
    if (error || stat(real.c_str(), &info) != 0 || !S_ISDIR(info.st_mode)) return;
    if (!seen.emplace(std::make_pair(info.st_dev, info.st_ino), uint32_t(folders.size())).second) return;
    folders.push_back({real, kNoParent, 0});
    // Breadth first from this top: each folder is listed once, by its index.
    for (uint32_t at = uint32_t(folders.size() - 1); at < folders.size(); ++at) {
        DIR* directory = opendir(folders[at].path.c_str());
        if (!directory) continue;
        const std::string prefix = folders[at].path == "/" ? "/" : folders[at].path + "/";
        while (const dirent* entry = readdir(directory)) {
            std::string name = entry->d_name;
            if (name == "." || name == "..") continue;
            bool folder = entry->d_type == DT_DIR;
            if (entry->d_type == DT_LNK || entry->d_type == DT_UNKNOWN || folder) {
                if (stat((prefix + name).c_str(), &info) != 0) continue;
                folder = S_ISDIR(info.st_mode);
            }
            if (folder) {
                if (seen.emplace(std::make_pair(info.st_dev, info.st_ino), uint32_t(folders.size())).second)
                    folders.push_back({prefix + name, at, folders[at].depth + 1});
                continue;
            }
            files.push_back({foldedHash(name), at, uint32_t(names.size())});
            names.push_back(std::move(name));
        }
        closedir(directory);
    }
}

std::string TextureArchive::find(const std::string& modelFolder, const std::string& name) const {
    struct stat info;
    if (stat(modelFolder.empty() ? "." : modelFolder.c_str(), &info) != 0) return "";
    const auto model = folderById.find({info.st_dev, info.st_ino});
    if (model == folderById.end()) return "";
    // The model folder and its ancestors, nearest first.
    std::vector<uint32_t> line;
    for (uint32_t at = model->second; at != kNoParent; at = folders[at].parent) line.push_back(at);

    // Level above the model, depth below that level, path order, not the exact name, the name.
    using Rank = std::tuple<size_t, uint32_t, uint32_t, bool, std::string>;
    std::vector<std::pair<Rank, const File*>> candidates;
    const uint64_t hash = foldedHash(name);
    auto entry = std::lower_bound(files.begin(), files.end(), File{hash, 0, 0});
    for (; entry != files.end() && entry->foldedHash == hash; ++entry) {
        const std::string& found = names[entry->name];
        if (!sameIgnoringCase(found, name)) continue;
        // The lowest ancestor of the model's folder that holds this file's folder.
        size_t level = line.size();
        for (uint32_t at = entry->folder; at != kNoParent && level == line.size(); at = folders[at].parent)
            level = size_t(std::find(line.begin(), line.end(), at) - line.begin());
        if (level == line.size()) continue;  // another top's archive
        const Folder& folder = folders[entry->folder];
        // TextureLookup has searched the model folder and its direct subfolders;
        // deeper ones below it count as below the parent.
        if (level == 0 && (entry->folder == line[0] || folder.parent == line[0])) continue;
        if (level == 0) level = 1;
        if (level >= line.size()) continue;
        const Rank rank{level, folder.depth - folders[line[level]].depth, folder.pathOrder, found != name, found};
        candidates.push_back({rank, &*entry});
    }
    std::sort(candidates.begin(), candidates.end(),
              [](const auto& a, const auto& b) { return a.first < b.first; });
    for (const auto& candidate : candidates) {
        const std::string path = folders[candidate.second->folder].path + "/" + names[candidate.second->name];
        if (!isReadableFile(path)) continue;
        // Through the folder's real location, as TextureLookup names its finds.
        std::error_code error;
        const std::filesystem::path real = std::filesystem::canonical(folders[candidate.second->folder].path, error);
        return error ? path : (real / names[candidate.second->name]).string();
    }
    return "";
}

}  // namespace kestrav
