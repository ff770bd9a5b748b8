// Which games the list shows: the whole catalogue, or one of the views the context menu and
// Ctrl+1 to Ctrl+5 choose, each worked out from the catalogue, the marks and the plays.
#pragma once

#include "PlayStats.h"

#include <QString>
#include <functional>
#include <optional>
#include <string>
#include <vector>

class TGameCatalogue;

enum class TGameView { All, Available, Favourites, MostPlayed, Recent };
inline constexpr int GameViewCount = 5;

// The menu text of a view, in the order of the menu and of Ctrl+1 to Ctrl+5.
QString GameViewCaption(TGameView view);
// How the view stands in the settings file: "1" to "5", as its key; nothing for a text that
// names no view.
std::string GameViewText(TGameView view);
std::optional<TGameView> GameViewFromText(const std::string& text);

// What a view is made from: whether a game's ROMs are there (asked only where the view needs it),
// the favourite marks by game, and the plays.
struct TViewSources {
    const TGameCatalogue& catalogue;
    std::function<bool(int game)> present;
    const std::vector<bool>& favourites;
    const TPlayStats& plays;
};

// The games of the view in the order it shows them. All: every game, in catalogue order.
std::vector<int> GamesInView(TGameView view, const TViewSources& from);
