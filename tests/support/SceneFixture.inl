#pragma once

#include <Inventor/nodes/SoGroup.h>

#include <vector>

template <class T>
T* childAs(SoNode* group, int i) {
    if (!group || !group->isOfType(SoGroup::getClassTypeId())) return nullptr;
    SoGroup* g = static_cast<SoGroup*>(group);
    if (i < 0 || i >= g->getNumChildren()) return nullptr;
    SoNode* child = g->getChild(i);
    return child->isOfType(T::getClassTypeId()) ? static_cast<T*>(child) : nullptr;
}

template <class T>
std::vector<T*> nodesOf(SoNode* node) {
    std::vector<T*> found;
    if (!node) return found;
    if (node->isOfType(T::getClassTypeId())) found.push_back(static_cast<T*>(node));
    for (int i = 0; SoNode* child = childAs<SoNode>(node, i); ++i)
        for (T* inner : nodesOf<T>(child)) found.push_back(inner);
    return found;
}
