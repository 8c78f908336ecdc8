#include "cli/BatchPlan.h"

#include <sys/stat.h>

#include <map>

namespace kestrav {

namespace {
std::string quoted(const std::string& text) { return "\"" + text + "\""; }

// "out/" and "out" name one folder; the scene paths, and so the image names
// relative to them, must not depend on how it was typed.
std::string withoutTrailingSlashes(std::string folder) {
    while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
    return folder;
}

bool asNew(const timespec& scene, const timespec& model) {
    return scene.tv_sec > model.tv_sec || (scene.tv_sec == model.tv_sec && scene.tv_nsec >= model.tv_nsec);
}
}  // namespace

std::string sceneNameFor(const std::string& input) {
    const size_t slash = input.rfind('/');
    std::string name = slash == std::string::npos ? input : input.substr(slash + 1);
    const size_t dot = name.rfind('.');
    if (dot != std::string::npos && dot != 0) name.erase(dot);
    return name + ".iv";
}

std::string mirroredSceneFor(const std::string& input) {
    std::string path;
    for (size_t start = 0; start < input.size();) {
        size_t end = input.find('/', start);
        if (end == std::string::npos) end = input.size();
        const std::string component = input.substr(start, end - start);
        if (component == "..") return "";
        if (!component.empty() && component != ".") path += (path.empty() ? "" : "/") + component;
        start = end + 1;
    }
    const size_t slash = path.rfind('/');
    return path.substr(0, slash == std::string::npos ? 0 : slash + 1) + sceneNameFor(path);
}

BatchPlan::BatchPlan(const std::string& folder, const std::vector<std::string>& batchInputs, bool mirrored)
    : inputs(batchInputs) {
    std::string prefix = withoutTrailingSlashes(folder);
    if (prefix != "/") prefix += '/';
    std::map<std::string, size_t> firstWriter;
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::string scene = mirrored ? mirroredSceneFor(inputs[i]) : sceneNameFor(inputs[i]);
        outputs.push_back(prefix + scene);
        const auto [found, isNew] = firstWriter.emplace(outputs[i], i);
        // Each model and its scene are looked at once, for both checks: an
        // archive's second run may have nothing else to do.
        struct stat model, existing;
        const bool both = stat(inputs[i].c_str(), &model) == 0 && stat(outputs[i].c_str(), &existing) == 0;
        current.push_back(both && asNew(existing.st_mtim, model.st_mtim));
        if (scene.empty())
            clashLines.push_back(quoted(inputs[i]) + " has \"..\" in its path, which -r cannot mirror inside " +
                                 quoted(folder) + ".");
        else if (!isNew)
            clashLines.push_back(quoted(inputs[found->second]) + " and " + quoted(inputs[i]) +
                                 " would both be written to " + quoted(outputs[i]) + ".");
        // A model named like a scene (x.iv) in the folder itself would be replaced by its own scene.
        else if (both && model.st_dev == existing.st_dev && model.st_ino == existing.st_ino)
            clashLines.push_back(quoted(inputs[i]) + " would be written over itself.");
    }
}

}  // namespace kestrav
