#include "cli/BatchPlan.h"

#include <map>

#include "convert/SceneWriter.h"

namespace kestrav {

namespace {
std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// "out/" and "out" name one folder; the scene paths, and so the image names
// relative to them, must not depend on how it was typed.
std::string withoutTrailingSlashes(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}
}  // namespace

std::string sceneNameFor(const std::string& input) {
    const size_t slash = input.rfind('/');
    std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot != 0) name.erase(dot);
    return name + ".iv";
}

BatchPlan::BatchPlan(const std::string& folder, const std::vector<std::string>& batchInputs)
    : inputs(batchInputs) {
    std::string prefix = withoutTrailingSlashes(folder);
    if (prefix != "/") prefix += '/';
    std::map<std::string, size_t> firstWriter;
    for (size_t i = 0; i < inputs.size(); ++i) {
        outputs.push_back(prefix + sceneNameFor(inputs[i]));
        const auto [found, isNew] = firstWriter.emplace(outputs[i], i);
        if (!isNew)
            clashLines.push_back(quoted(inputs[found->second]) + " and " + quoted(inputs[i]) +
                                 " would both be written to " + quoted(outputs[i]) + ".");
        // A model named like a scene (x.iv) in the folder itself would be replaced by its own scene.
        else if (isSameFile(inputs[i], outputs[i]))
            clashLines.push_back(quoted(inputs[i]) + " would be written over itself.");
    }
}

}  // namespace kestrav
