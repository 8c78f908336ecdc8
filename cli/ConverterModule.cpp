#include "cli/ConverterModule.h"

#include "cli/ProgramModule.h"

namespace kestrav {

namespace {
const char* const kModuleName = "kestrav-converter.so";
}

ConvertOne loadSingleConversion(std::string& failure) {
    return reinterpret_cast<ConvertOne>(loadProgramModule(kModuleName, kConvertOneSymbol, failure));
}

MakeBatchJob loadBatchConversion(std::string& failure) {
    return reinterpret_cast<MakeBatchJob>(loadProgramModule(kModuleName, kMakeBatchJobSymbol, failure));
}

}  // namespace kestrav
