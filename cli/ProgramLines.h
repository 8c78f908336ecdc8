#pragma once

// The library's messages in the program's words, as kestrav has always
// printed them.

#include <string>
#include <vector>

#include "kestrav/kestrav.h"

namespace kestrav {

// A line said in the program's name ("kestrav: ...").
std::string programLine(const std::string& text);

// The conversion's messages as lines for standard error, without newlines: a
// warning starts "Warning: ", the reason a model cannot be read follows the
// line "Cannon create database from this 3ds file.", an error that ends the
// whole conversion (memory ran out, the output is the model) is said in the
// program's name, and texture notes and a failed write's reason stand as they are.
std::vector<std::string> programLines(const Conversion& conversion);

}  // namespace kestrav
