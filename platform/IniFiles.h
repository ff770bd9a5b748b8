// Profile (INI) files, read and written the way the classic Windows profile functions do:
// reads see the file as it is now, every byte the caller does not change is kept as it was.
// A write replaces the file whole through Files' one atomic path, so it lands entirely or not at
// all. The file is held as one buffer of its bytes (IniParse); a batch of writes is worked out by
// IniEdit. All texts are UTF-8; a file that is not valid UTF-8 is taken to be Windows-1252 (Text).
#pragma once

#include "IniValue.h"

#include <functional>
#include <memory>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace ini {
struct TIniParse;
}

class TIniFile {
public:
    explicit TIniFile(std::string fileName);
    ~TIniFile();
    TIniFile(const TIniFile&) = delete;
    TIniFile& operator=(const TIniFile&) = delete;

    const std::string& FileName() const;

    // Whether the file as it stands now is read and written as Windows-1252 (it is not UTF-8): a
    // text that Windows-1252 cannot hold would turn the whole file into UTF-8.
    bool IsWindows1252() const;
    // Whether a key can stand in any settings file and read back as it is: valid UTF-8, nothing
    // that breaks the line, no surrounding blanks, no "=", no leading ";" or "[".
    static bool StorableKey(std::string_view key);

    // The value of the first entry named key in the first section named section (both without
    // regard to ASCII case), whole; defaultValue when the file, section or entry is missing.
    std::string ReadString(const std::string& section, const std::string& key,
                           const std::string& defaultValue) const;
    // The value as an integer (decimal, "$" or "0x" hexadecimal) not equal to 0; a value that is
    // no such integer, an empty or missing one included, gives defaultValue.
    bool ReadBool(const std::string& section, const std::string& key, bool defaultValue) const;
    // The keys of the section in file order, a repeated key as often as it stands.
    std::vector<std::string> ReadSection(const std::string& section) const;
    // ReadSection with each key's value as ReadString gives it, in one pass over the parse.
    std::vector<std::pair<std::string, std::string>> ReadSectionValues(const std::string& section) const;
    // The same pairs handed to visit one by one, without copies where the file is UTF-8; the
    // texts are valid during the call only.
    void ReadSectionValues(const std::string& section,
                           const std::function<void(std::string_view key, std::string_view value)>& visit) const;

    // Replaces the value of the entry, or adds the entry (and its section, and the file).
    // Throws Exception("nach <file> kann nicht geschrieben werden") when the write is refused.
    void WriteString(const std::string& section, const std::string& key, const std::string& value);
    // Writes "1" for true, "0" for false.
    void WriteBool(const std::string& section, const std::string& key, bool value);
    // WriteString for each value in turn, the file written once. Through a symbolic link the
    // link's target is written; the file keeps its permissions. A value equal to the one the file
    // holds is kept as it stands, whatever it holds. A path that is no regular file, a file of
    // 4 GiB or more, a new text that cannot be stored or any failure of the write leaves the file
    // as it was and throws Exception("nach <file> kann nicht geschrieben werden").
    void WriteValues(const std::vector<TIniValue>& values);

private:
    // The parse of the file as it stands now, re-read only when the file has changed.
    const ini::TIniParse& Current() const;

    std::string fileName_;
    mutable std::unique_ptr<ini::TIniParse> parse_;
};

// How booleans stand in the file: "1" or "0".
const char* BoolText(bool value);

// text as a signed 32-bit integer: optional leading blanks, an optional sign, then decimal digits
// or "$" and hexadecimal digits; defaultValue for anything else, an out-of-range number included.
int StrToIntDef(const std::string& text, int defaultValue);
