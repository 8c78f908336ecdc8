#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "appearance/ImageExport.h"

namespace kestrav {

// The turns of a batch's files to name and write their images in the shared
// folder, taken in input order: which files are through, in memory that the
// parent and the workers it forks after making it share. A file is through
// when its worker gives the turn back, or when the parent hears its result or
// sees its worker end.
class BatchImageTurns : public ImageTurn {
public:
    explicit BatchImageTurns(size_t fileCount);
    ~BatchImageTurns() override;
    BatchImageTurns(const BatchImageTurns&) = delete;
    BatchImageTurns& operator=(const BatchImageTurns&) = delete;

    // False when the shared memory could not be made; the turns are then not taken.
    bool usable() const { return through != nullptr; }
    // The file this worker converts now.
    void setCurrent(size_t index) { current = index; }
    void finish(size_t index);

    // Waits until every earlier file is through.
    void take() override;
    void give() override { finish(current); }

private:
    std::atomic<uint8_t>* through = nullptr;
    size_t count = 0;
    size_t current = 0;
    size_t firstNotThrough = 0;  // this process's view, which only grows
};

}  // namespace kestrav
