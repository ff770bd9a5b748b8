// The favourite games: the "favorites" section of the settings file, one NAME=1 entry each.
// Read at start; written back at exit with the other settings, and only when a mark changed, so
// that a file whose favourites stay as they were keeps every byte.
#pragma once

#include "IniFiles.h"

#include <string>
#include <vector>

class TGameCatalogue;

namespace settings {
inline constexpr const char* FavouritesSection = "favorites";
}

// A mark for every game of the catalogue: whether the section names it with a true value.
std::vector<bool> ReadFavourites(const TIniFile& file, const TGameCatalogue& catalogue);

// The writes that make the section hold exactly the favourites: NAME=1 for each, and the entries
// of games no longer marked erased. Entries the catalogue does not know stay as they stand.
std::vector<TIniValue> FavouriteValues(const TIniFile& file, const TGameCatalogue& catalogue,
                                       const std::vector<bool>& favourites);
