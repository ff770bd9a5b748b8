// What the program keeps in its settings file: the sections and keys, their defaults, the markers
// that stand in a directory field instead of a path, and the six emulator options with their
// check boxes and switches. The main window, the launch and the game scan all take them from here.
#pragma once

#include <QString>
#include <iterator>
#include <optional>
#include <string>

class TIniFile;

namespace settings {

inline constexpr const char* PathSection = "path";
inline constexpr const char* OptionsSection = "options";
inline constexpr const char* GamesSection = "games";

inline constexpr const char* EmulatorDirKey = "emudir";
inline constexpr const char* ZipDirKey = "zipdir";
inline constexpr const char* UnzipperKey = "unzipper";
// The list's view, "1" to "5" as in the menu (options section); missing: the whole catalogue.
inline constexpr const char* ViewKey = "view";
inline constexpr const char* DefaultEmulatorDir = ".";
inline constexpr const char* DefaultUnzipper = "unzip";

// One emulator option: its key in the options section (unchecked when missing), the check box
// of the main window's control table that shows it, and the emulator's switch when checked.
struct TOption {
    const char* key;
    const char* checkBox;
    const char* emulatorSwitch;
};

// In the order the switches are given to the emulator.
inline constexpr TOption Options[] = {
    {"enablejoystick", "CheckJoy", "-j"}, {"nosound", "CheckNoSound", "-s"}, {"altfmbase", "CheckFMBase", "-a"},
    {"noscanlines", "CheckNoScan", "-n"}, {"vsync", "CheckVSync", "-v"},     {"frameskip", "CheckFrameskip", "-f"},
};
inline constexpr int OptionCount = int(std::size(Options));

} // namespace settings

// Stand in the directory fields instead of a path; never name a real file or directory.
inline const QString NotDefinedMarker = QStringLiteral("<no definido!>");
inline const QString NoZipMarker = QStringLiteral("<No tiene soporte ZIP!>");

// A field's text as the settings file holds it (UTF-8).
std::string ToStd(const QString& text);

namespace settings {

// The ZIP directory of a field or a settings value; nothing while ZIP support is off.
std::optional<std::string> ZipDirOf(const QString& text);

// An option as the file held it: its value as read ("0" when missing) and whether it is checked.
struct TOptionRead {
    std::string text;
    bool checked;
};
TOptionRead ReadOption(const TIniFile& file, const TOption& option);

// The value to write back for an option: the text as read while the check box shows the state
// read from it, so that "0x1" or "$0" stays as the user spelled it; else "1" or "0".
std::string OptionValue(const TOptionRead& read, bool checked);

} // namespace settings
