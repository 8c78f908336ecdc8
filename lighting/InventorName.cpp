#include "lighting/InventorName.h"

#include <Inventor/SbName.h>
#include <Inventor/nodes/SoNode.h>

namespace kestrav {

void nameAfterObject(SoNode* node, const std::string& objectName) {
    if (objectName.empty()) return;
    std::string name;
    if (!SbName::isIdentStartChar(objectName[0])) name += '_';
    for (char c : objectName) name += SbName::isIdentChar(c) ? c : '_';
    node->setName(SbName(name.c_str()));
}

}  // namespace kestrav
