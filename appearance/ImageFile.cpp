#include "appearance/ImageFile.h"

#include <sys/stat.h>

#include <cstdio>

namespace kestrav {

bool isReadableFile(const std::string& path) {
    struct stat info;
    if (stat(path.c_str(), &info) != 0 || !S_ISREG(info.st_mode)) return false;
    FILE* file = std::fopen(path.c_str(), "rb");
    if (!file) return false;
    std::fclose(file);
    return true;
}

}  // namespace kestrav
