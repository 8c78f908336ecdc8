#pragma once

#include <string>
#include <vector>

namespace kestrav {

// The models a batch converts, found from the names it is given.
struct ModelTree {
    std::vector<std::string> models;  // as given, or the given folder's path joined with the names below it
    struct Unlisted {
        std::string folder;
        std::string reason;  // the system's
    };
    std::vector<Unlisted> unlistedFolders;
    // The folders whose images texture look-ups may use: each folder given, and
    // for a relative file path with a folder in it, its first component.
    std::vector<std::string> archiveRoots;
};

// With recursive, a folder given stands for every file below it whose name
// ends in .3ds in any letter case, in byte order of their paths; a symbolic
// link to a folder is followed once (so a loop is entered once), and the
// folder skipFolder (the batch's output, when it exists) is never entered.
// Without it every name is a model, as given.
ModelTree findModels(const std::vector<std::string>& names, bool recursive, const std::string& skipFolder);

// The names listed in the file at path ("-": standard input), one a line,
// empty lines left out; false with the system's reason when it cannot be read.
bool readNameList(const std::string& path, std::vector<std::string>& names, std::string& failure);

}  // namespace kestrav
