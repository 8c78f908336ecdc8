#include "tests/support/CoinSceneWriter.h"

#include <Inventor/SoOutput.h>
#include <Inventor/actions/SoWriteAction.h>
#include <Inventor/nodes/SoNode.h>

#include <cstdlib>

#include "convert/WriteAll.h"

namespace kestrav {

bool writeSceneWithCoinOutput(SoNode* root, const std::string& outputPath, std::string& failure,
                              SceneFormat format) {
    // SoOutput collects the text in memory; it is written once complete.
    const size_t initialSize = 64 * 1024;
    SoOutput output;
    output.setBuffer(std::malloc(initialSize), initialSize, std::realloc);
    output.setBinary(format == SceneFormat::Binary);
    SoWriteAction action(&output);
    action.apply(root);
    void* data = nullptr;
    size_t size = 0;
    output.getBuffer(data, size);
    const bool written =
        writeSceneText(outputPath, [data, size](int fd) { return writeAll(fd, data, size); }, failure);
    std::free(data);
    return written;
}

}  // namespace kestrav
