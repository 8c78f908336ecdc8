#pragma once

#include <string>
#include <vector>

namespace kestrav {

// Where each input of a batch is written: folder/<its file name without the
// last extension>.iv or, mirrored, folder/<its path without the last
// extension>.iv (a leading / and ./ left out). Decided for all inputs before
// anything is converted, so two inputs that would overwrite each other's scene
// are found first.
class BatchPlan {
public:
    BatchPlan(const std::string& folder, const std::vector<std::string>& inputs, bool mirrored = false);

    size_t size() const { return inputs.size(); }
    const std::string& input(size_t index) const { return inputs[index]; }
    const std::string& output(size_t index) const { return outputs[index]; }
    // One line for each input whose output another input already has, that
    // is its own output, or whose path climbs with ".." where it is mirrored;
    // empty when every output is distinct and new.
    const std::vector<std::string>& clashes() const { return clashLines; }
    // Whether the input's scene exists and is as new as the input or newer
    // (as cp -u decides), when the plan was made; false for an input that
    // cannot be looked at, which is converted to say why.
    bool upToDate(size_t index) const { return current[index]; }

private:
    std::vector<std::string> inputs;
    std::vector<std::string> outputs;
    std::vector<std::string> clashLines;
    std::vector<bool> current;
};

// "models/ship.v2.3ds" -> "ship.v2.iv"; a name that only starts with a dot
// keeps it (".hidden" -> ".hidden.iv").
std::string sceneNameFor(const std::string& input);
// "/data/./units//a/unit.3ds" -> "data/units/a/unit.iv"; empty when a
// component is "..", which would lead out of the output folder.
std::string mirroredSceneFor(const std::string& input);

}  // namespace kestrav
