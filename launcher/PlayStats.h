// How often, how long and when each game was played: the file played.tsv in the state directory,
// one line per game (NAME, plays, last start as local ISO 8601 time, seconds played, by tabs).
// Each ended game is added under a lock and the file replaced whole, so two Kabinex ending games
// at the same moment both keep their plays, and a crash loses at most the game in progress.
#pragma once

#include <QDateTime>
#include <QString>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

struct TPlayRecord {
    long long plays = 0;
    std::string last; // "2026-12-08T21:04:11"
    long long seconds = 0;
};

class TPlayStats {
public:
    // The lines of a played.tsv; a damaged or foreign line is kept aside, never read.
    static TPlayStats Parse(std::string_view text);
    std::string Text() const;

    const TPlayRecord* Find(std::string_view game) const;
    bool Empty() const { return records_.empty(); }
    void Add(const std::string& game, const QDateTime& started, long long seconds);

private:
    std::vector<std::string> order_; // the games in the order of their lines
    std::unordered_map<std::string, TPlayRecord> records_;
    std::vector<std::string> foreign_; // lines that are no record, written back as they stood
};

// The figures as the list's tooltip shows them: "Jugado 3 veces, la última el 08/12/2026,
// 1 h 20 min en total", or "Nunca jugado".
QString PlayFigures(const TPlayRecord* record);

// $XDG_STATE_HOME/kabinex/played.tsv.
std::string PlayStatsPath();
// The file as it stands; empty when missing or unreadable.
TPlayStats LoadPlayStats(const std::string& path);
// Adds one play to the file under its lock and gives the file as it now stands. Throws when the
// file cannot be written.
TPlayStats RecordPlay(const std::string& path, const std::string& game, const QDateTime& started, long long seconds);
