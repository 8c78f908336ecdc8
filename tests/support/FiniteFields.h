#pragma once

// Coin writes an infinity or a not-a-number as inf or nan, and cannot read
// either back: a scene holding one is lost whole. The builders never make
// one; these find such values in the float-carrying fields of nodes, for the
// tests and the fuzz target that check it.

class SoField;
class SoNode;

namespace kestrav {

// False when a float or double of the field (every element of a multiple-value
// field, every component of a vector, rotation, matrix, plane or box) is not finite.
bool holdsOnlyFiniteValues(const SoField& field);

// The first field, depth first through every group under root, that holds a
// value that is not finite, with the node it belongs to; null when there is none.
const SoField* findNonFiniteField(SoNode* root, SoNode** owner = nullptr);

}  // namespace kestrav
