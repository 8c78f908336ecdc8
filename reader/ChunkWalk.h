#pragma once

#include <cstdint>

#include "reader/ModelDatabase.h"
#include "reader/ModelLists.h"

namespace kestrav {

// Walks the chunks of a model's size bytes from offset 0 to the end, appending
// to lists, which should be empty. The walk is flat: containers are descended
// into and every other chunk is handled or skipped by its length. Returns
// false when memory ran out; otherwise end says how far the walk got.
bool walkChunks(const uint8_t* bytes, int64_t size, ModelLists& lists, WalkEnd& end);

// True for the chunk ids the walk reads or descends into: a file whose first
// header holds none of them is not taken for a model.
bool isKnownChunkId(uint16_t id);

}  // namespace kestrav
