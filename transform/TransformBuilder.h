#pragma once

#include "convert/SceneConverter.h"

class SbVec3f;
class SbVec4f;

// Places one mesh instance by its keyframer node and its parents, and takes
// the stored vertices back into the mesh's local frame.
class TransformBuilder : public SceneConverter {
public:
    explicit TransformBuilder(SceneConverter* converter);

    // Adds the transform nodes to the object separator; sets mirrored to 1 when
    // the mesh's frame is mirrored and leaves it alone otherwise.
    void buildTransforms(int& mirrored);

private:
    // Parent chains deeper than this are cut, so no file can exhaust the stack.
    static constexpr int kMaxLineage = 256;

    void composeNode(const KeyframeNode* node, SbVec3f& t, SbVec4f& r, SbVec3f& s);
    const KeyframeNode* resolveParent(const KeyframeNode* node) const;
    bool frameIsMirrored() const;
    void addLocalFrame();

    ModelDatabase* nodeDatabase;
    // The nodes whose composition is under way, the instance's own node first.
    const KeyframeNode* lineage[kMaxLineage];
    int lineageDepth;
};
