#include "Settings.h"

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

} // namespace settings
