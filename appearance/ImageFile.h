#pragma once

// How the texture look-ups match image names and files: letter case folded
// for ASCII letters only, since bytes above 127 belong to an unknown code page.

#include <algorithm>
#include <cstdint>
#include <string>

namespace kestrav {

inline char foldCase(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

inline bool sameIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) { return foldCase(x) == foldCase(y); });
}

// FNV-1a of the name with its case folded.
inline uint64_t foldedHash(const std::string& name) {
    uint64_t hash = 14695981039346656037ull;
    for (char c : name) hash = (hash ^ uint8_t(foldCase(c))) * 1099511628211ull;
    return hash;
}

// The image is only referenced, so a file that opens is enough. The type is
// checked first: opening a FIFO for reading would wait for a writer.
bool isReadableFile(const std::string& path);

}  // namespace kestrav
