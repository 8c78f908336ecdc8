#pragma once

// Coin writes an infinity or a not-a-number as inf or nan, and cannot read
// either back: a scene holding one is lost whole. These find such values in
// the float-carrying fields of nodes.

class SoField;
class SoNode;

// False when a float or double of the field (every element of a multiple-value
// field, every component of a vector, rotation, matrix, plane or box) is not finite.
bool holdsOnlyFiniteValues(const SoField& field);

// Sets every field of the node that holds a value that is not finite to the
// value a new node of its type has, marked as default; returns how many.
int resetNonFiniteFields(SoNode* node);

// The first field, depth first through every group under root, that holds a
// value that is not finite, with the node it belongs to; null when there is none.
const SoField* findNonFiniteField(SoNode* root, SoNode** owner = nullptr);
