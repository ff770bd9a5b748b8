#include "Favourites.h"

#include "GameCatalogue.h"
#include "Text.h"

#include <unordered_map>

namespace {

// The catalogue's games by name, lowered: the file's keys are looked up without regard to case.
std::unordered_map<std::string, int> GamesByName(const TGameCatalogue& catalogue)
{
    std::unordered_map<std::string, int> games;
    games.reserve(static_cast<std::size_t>(catalogue.Count()));
    for (int game = 0; game < catalogue.Count(); ++game)
        games.try_emplace(platform::AsciiLowerCase(std::string(catalogue.Name(game))), game);
    return games;
}

} // namespace

std::vector<bool> ReadFavourites(const TIniFile& file, const TGameCatalogue& catalogue)
{
    std::vector<bool> favourites(static_cast<std::size_t>(catalogue.Count()), false);
    const std::vector<std::string> keys = file.ReadSection(settings::FavouritesSection);
    if (keys.empty())
        return favourites;
    const std::unordered_map<std::string, int> games = GamesByName(catalogue);
    for (const std::string& key : keys) {
        const auto found = games.find(platform::AsciiLowerCase(key));
        if (found != games.end() && file.ReadBool(settings::FavouritesSection, key, false))
            favourites[static_cast<std::size_t>(found->second)] = true;
    }
    return favourites;
}

std::vector<TIniValue> FavouriteValues(const TIniFile& file, const TGameCatalogue& catalogue,
                                       const std::vector<bool>& favourites)
{
    std::vector<TIniValue> values;
    const std::vector<bool> inFile = ReadFavourites(file, catalogue);
    for (int game = 0; game < catalogue.Count(); ++game) {
        const auto at = static_cast<std::size_t>(game);
        if (favourites[at] == inFile[at])
            continue; // as it stands, however it is spelled
        std::string name(catalogue.Name(game));
        if (favourites[at])
            values.push_back({settings::FavouritesSection, std::move(name), "1"});
        else
            values.push_back({settings::FavouritesSection, std::move(name), {}, true});
    }
    return values;
}
