#pragma once

// One process that converts files the way kestrav does (read, build, write),
// timing each step. It runs as a child of the benchmark, so its peak resident
// size is its own.

#include <map>
#include <string>
#include <vector>

// Figures by name: seconds, bytes, or counts.
using Figures = std::map<std::string, double>;

// Which output formats the scene text: kestrav's own, or Coin's SoOutput as
// the converter used before it had its own (for the comparison); or kestrav's
// own binary output, as -B writes it.
enum class SceneText { Kestrav, Coin, KestravBinary };

// Converts every input in turn to outputDirectory/<name>.iv, with the current
// directory as the place of the texture images. Times are summed over the
// inputs; sizes are the largest any single input reached. Returns false, with
// a message on standard error, when a file cannot be converted.
bool convertInProcess(const std::vector<std::string>& inputs, const std::string& outputDirectory, SceneText text,
                      Figures& figures);

// Times Coin reading the scene file back (SoDB::readAll) as readBackSeconds;
// false, with a message on standard error, when Coin cannot read it.
bool readBackInProcess(const std::string& path, Figures& figures);

// One line of "name=value" pairs, and back.
std::string formatFigures(const Figures& figures);
Figures parseFigures(const std::string& line);
