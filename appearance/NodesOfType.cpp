#include "appearance/NodesOfType.h"

#include <Inventor/SoPath.h>
#include <Inventor/actions/SoSearchAction.h>
#include <Inventor/lists/SoPathList.h>

namespace kestrav {

std::vector<SoNode*> nodesOfType(SoNode* root, SoType type) {
    SoSearchAction search;
    search.setType(type);
    search.setInterest(SoSearchAction::ALL);
    search.setSearchingAll(TRUE);
    search.apply(root);
    const SoPathList& paths = search.getPaths();
    std::vector<SoNode*> nodes;
    nodes.reserve(size_t(paths.getLength()));
    for (int i = 0; i < paths.getLength(); ++i) nodes.push_back(paths[i]->getTail());
    return nodes;
}

}  // namespace kestrav
