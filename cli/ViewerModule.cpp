#include "cli/ViewerModule.h"

#include "cli/ProgramModule.h"

namespace kestrav {

ViewScene loadViewer(std::string& failure) {
    return reinterpret_cast<ViewScene>(loadProgramModule("kestrav-viewer.so", kViewSceneSymbol, failure));
}

}  // namespace kestrav
