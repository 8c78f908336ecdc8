#pragma once

#include <cstdint>
#include <cstdio>

#include "reader/ModelDatabase.h"
#include "reader/ModelLists.h"

namespace kestrav {

// Walks the chunks of file from offset 0 up to fileSize, appending to lists,
// which should be empty. The walk is flat: containers are descended into and
// every other chunk is handled or skipped by its length. Returns false when
// memory ran out; otherwise end says how far the walk got.
bool walkChunks(FILE* file, int64_t fileSize, ModelLists& lists, WalkEnd& end);

}  // namespace kestrav
