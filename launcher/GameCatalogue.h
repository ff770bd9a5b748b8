// The "games" section held as one UTF-8 text with an offset per game: the list reads names and
// descriptions from here as rows are drawn, with no string object per game.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

class TIniFile;

// UTF-8 bytes of the missing-ROM mark ("·· ").
inline constexpr std::string_view MissingMarkUtf8 = "\xC2\xB7\xC2\xB7 ";

class TGameCatalogue {
public:
    // Replaces the games by those of the settings' "games" section, in file order.
    void Load(const TIniFile& settings);
    void Clear();
    void Add(std::string_view name, std::string_view description);

    int Count() const { return static_cast<int>(starts_.size()); }
    std::string_view Name(int game) const;
    // The description without the missing-ROM mark: a mark that stands in the file counts as the
    // list's own, so the list sets or drops it by the check alone.
    std::string_view Description(int game) const;

private:
    struct TStarts {
        std::uint32_t name;
        std::uint32_t description;
    };
    // name 0, description 0, name 1, description 1, ... one after the other.
    std::string text_;
    std::vector<TStarts> starts_;
};
