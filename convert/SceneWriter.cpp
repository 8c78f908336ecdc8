// placeholder until implemented
#include "convert/SceneWriter.h"
#include <Inventor/SoOutput.h>
#include <Inventor/actions/SoWriteAction.h>
bool writeScene(SoNode* root, const std::string& path, std::string&) {
    SoWriteAction action;
    if (!path.empty()) action.getOutput()->openFile(path.c_str());
    action.getOutput()->setBinary(FALSE);
    action.apply(root);
    action.getOutput()->closeFile();
    return true;
}
