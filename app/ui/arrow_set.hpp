#pragma once

#include <string>

#include "app/ui/direction_display.hpp"

namespace camsteer {

// Finds the folder the arrow pictures are loaded from: images/ in the working directory first,
// then the installed data folder. Empty when none holds them.
std::string findImagesDir();

// Loads the eleven arrow pictures from `dir`. False when one cannot be loaded; `missing` then
// names the first such file (the others are loaded all the same).
bool loadArrowSet(const std::string& dir, ArrowSet& arrows, std::string& missing);

}  // namespace camsteer
