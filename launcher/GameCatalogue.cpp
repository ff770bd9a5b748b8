#include "GameCatalogue.h"

#include "IniFiles.h"
#include "Settings.h"
#include "SysUtils.h"

#include <limits>

void TGameCatalogue::Load(const TIniFile& settings)
{
    Clear();
    // Measured first, so the text and the index are allocated once at their size: growing them
    // would hold up to three copies of a big catalogue at a time.
    std::size_t bytes = 0;
    std::size_t games = 0;
    settings.ReadSectionValues(settings::GamesSection, [&](std::string_view name, std::string_view description) {
        bytes += name.size() + description.size();
        ++games;
    });
    text_.reserve(bytes);
    starts_.reserve(games);
    settings.ReadSectionValues(settings::GamesSection, [this](std::string_view name, std::string_view description) {
        Add(name, description);
    });
}

void TGameCatalogue::Clear()
{
    text_ = {};
    starts_ = {};
}

void TGameCatalogue::Add(std::string_view name, std::string_view description)
{
    if (description.starts_with(MissingMarkUtf8))
        description.remove_prefix(MissingMarkUtf8.size());
    // Offsets of 32 bits keep the index small; a catalogue of 4 GiB is far beyond any settings file.
    if (text_.size() + name.size() + description.size() > std::numeric_limits<std::uint32_t>::max())
        throw Exception("El catálogo de juegos es demasiado grande.");
    const auto nameStart = static_cast<std::uint32_t>(text_.size());
    text_ += name;
    starts_.push_back({nameStart, static_cast<std::uint32_t>(text_.size())});
    text_ += description;
}

std::string_view TGameCatalogue::Name(int game) const
{
    const TStarts& at = starts_[static_cast<std::size_t>(game)];
    return std::string_view(text_).substr(at.name, at.description - at.name);
}

std::string_view TGameCatalogue::Description(int game) const
{
    const auto index = static_cast<std::size_t>(game);
    const std::size_t end = index + 1 < starts_.size() ? starts_[index + 1].name : text_.size();
    return std::string_view(text_).substr(starts_[index].description, end - starts_[index].description);
}
