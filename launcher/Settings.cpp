#include "Settings.h"

#include "IniFiles.h"

std::string ToStd(const QString& text)
{
    return text.toStdString();
}

namespace settings {

std::optional<std::string> ZipDirOf(const QString& text)
{
    if (text == NoZipMarker)
        return std::nullopt;
    return ToStd(text);
}

TOptionRead ReadOption(const TIniFile& file, const TOption& option)
{
    return {file.ReadString(OptionsSection, option.key, BoolText(false)), file.ReadBool(OptionsSection, option.key, false)};
}

std::string OptionValue(const TOptionRead& read, bool checked)
{
    return checked == read.checked ? read.text : BoolText(checked);
}

} // namespace settings
