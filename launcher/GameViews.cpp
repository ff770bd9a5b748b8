#include "GameViews.h"

#include "GameCatalogue.h"

#include <algorithm>
#include <numeric>

namespace {

struct TPlayed {
    int game;
    const TPlayRecord* record;
};

std::vector<TPlayed> PlayedGames(const TViewSources& from)
{
    std::vector<TPlayed> played;
    if (from.plays.Empty())
        return played;
    for (int game = 0; game < from.catalogue.Count(); ++game)
        if (const TPlayRecord* record = from.plays.Find(from.catalogue.Name(game)); record && record->plays > 0)
            played.push_back({game, record});
    return played;
}

std::vector<int> GamesOf(const std::vector<TPlayed>& played)
{
    std::vector<int> games;
    games.reserve(played.size());
    for (const TPlayed& p : played)
        games.push_back(p.game);
    return games;
}

std::vector<int> GamesWhere(int count, const std::function<bool(int)>& keep)
{
    std::vector<int> games;
    for (int game = 0; game < count; ++game)
        if (keep(game))
            games.push_back(game);
    return games;
}

} // namespace

QString GameViewCaption(TGameView view)
{
    switch (view) {
    case TGameView::All: return QStringLiteral("Todos los juegos");
    case TGameView::Available: return QStringLiteral("Sólo los disponibles");
    case TGameView::Favourites: return QStringLiteral("Sólo los favoritos");
    case TGameView::MostPlayed: return QStringLiteral("Los más jugados");
    case TGameView::Recent: return QStringLiteral("Jugados hace poco");
    }
    return {};
}

std::string GameViewText(TGameView view)
{
    return std::to_string(static_cast<int>(view) + 1);
}

std::optional<TGameView> GameViewFromText(const std::string& text)
{
    if (text.size() != 1 || text[0] < '1' || text[0] >= '1' + GameViewCount)
        return std::nullopt;
    return static_cast<TGameView>(text[0] - '1');
}

std::vector<int> GamesInView(TGameView view, const TViewSources& from)
{
    const int count = from.catalogue.Count();
    switch (view) {
    case TGameView::All: {
        std::vector<int> games(static_cast<std::size_t>(count));
        std::iota(games.begin(), games.end(), 0);
        return games;
    }
    case TGameView::Available: return GamesWhere(count, from.present);
    case TGameView::Favourites:
        return GamesWhere(count, [&](int game) { return from.favourites[static_cast<std::size_t>(game)]; });
    case TGameView::MostPlayed: {
        std::vector<TPlayed> played = PlayedGames(from);
        // Catalogue order breaks the last ties: the sort is stable over it.
        std::ranges::stable_sort(played, [](const TPlayed& a, const TPlayed& b) {
            if (a.record->plays != b.record->plays)
                return a.record->plays > b.record->plays;
            return a.record->seconds > b.record->seconds;
        });
        return GamesOf(played);
    }
    case TGameView::Recent: {
        std::vector<TPlayed> played = PlayedGames(from);
        // ISO 8601 local times of one length sort as text.
        std::ranges::stable_sort(played, [](const TPlayed& a, const TPlayed& b) { return a.record->last > b.record->last; });
        return GamesOf(played);
    }
    }
    return {};
}
