#pragma once

#include <Inventor/nodes/SoGroup.h>

template <class T>
T* childAs(SoNode* group, int i) {
    if (!group || !group->isOfType(SoGroup::getClassTypeId())) return nullptr;
    SoGroup* g = static_cast<SoGroup*>(group);
    if (i < 0 || i >= g->getNumChildren()) return nullptr;
    SoNode* child = g->getChild(i);
    return child->isOfType(T::getClassTypeId()) ? static_cast<T*>(child) : nullptr;
}
