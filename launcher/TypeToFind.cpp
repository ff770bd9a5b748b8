#include "TypeToFind.h"

#include <QChar>
#include <QList>
#include <QString>
#include <array>

namespace {

constexpr char32_t NoCharacter = 0xFFFFFFFF;
// Accents combine with the letter before them; the comparison skips them.
constexpr char32_t Skipped = 0xFFFFFFFE;

char32_t FoldSlowly(char32_t c)
{
    if (QChar::category(c) == QChar::Mark_NonSpacing)
        return Skipped;
    if (QChar::decompositionTag(c) == QChar::Canonical) {
        const QString pieces = QChar::decomposition(c);
        if (!pieces.isEmpty())
            c = pieces.at(0).isHighSurrogate() && pieces.size() > 1 ? QChar::surrogateToUcs4(pieces.at(0), pieces.at(1))
                                                                  : pieces.at(0).unicode();
        // A decomposition may itself start with a decomposable letter (Vietnamese, Greek).
        if (QChar::decompositionTag(c) == QChar::Canonical)
            return FoldSlowly(c);
    }
    return QChar::toCaseFolded(c);
}

// Letters of the Latin, Greek and Cyrillic blocks are folded once and kept; the rest each time.
char32_t Fold(char32_t c)
{
    if (c < 0x80)
        return c >= 'A' && c <= 'Z' ? c + ('a' - 'A') : c;
    static std::array<char32_t, 0x2000> known = [] {
        std::array<char32_t, 0x2000> table{};
        table.fill(NoCharacter);
        return table;
    }();
    if (c >= known.size())
        return FoldSlowly(c);
    if (known[c] == NoCharacter)
        known[c] = FoldSlowly(c);
    return known[c];
}

// The code point starting at text[at], advancing at past it; NoCharacter for bytes that are no UTF-8.
char32_t NextCodePoint(std::string_view text, std::size_t& at)
{
    const auto lead = static_cast<unsigned char>(text[at++]);
    if (lead < 0x80)
        return lead;
    int more = 0;
    if (lead >= 0xC2 && lead < 0xE0)
        more = 1;
    else if (lead >= 0xE0 && lead < 0xF0)
        more = 2;
    else if (lead >= 0xF0 && lead < 0xF5)
        more = 3;
    else
        return NoCharacter;
    char32_t c = lead & (0x3F >> more);
    for (int i = 0; i < more; ++i) {
        if (at >= text.size() || (static_cast<unsigned char>(text[at]) & 0xC0) != 0x80)
            return NoCharacter;
        c = (c << 6) | (static_cast<unsigned char>(text[at++]) & 0x3F);
    }
    return c;
}

} // namespace

std::u32string FoldedForFind(QStringView typed)
{
    std::u32string folded;
    for (const char32_t c : typed.toUcs4()) {
        const char32_t f = Fold(c);
        if (f != Skipped)
            folded.push_back(f);
    }
    return folded;
}

bool BeginsWithFolded(std::string_view utf8, std::u32string_view folded)
{
    std::size_t at = 0;
    for (const char32_t wanted : folded) {
        char32_t got = Skipped;
        while (got == Skipped) {
            if (at >= utf8.size())
                return false;
            const char32_t c = NextCodePoint(utf8, at);
            if (c == NoCharacter)
                return false;
            got = Fold(c);
        }
        if (got != wanted)
            return false;
    }
    return true;
}

bool HoldsFolded(std::string_view utf8, std::u32string_view folded)
{
    for (std::size_t at = 0; at < utf8.size();) {
        if (BeginsWithFolded(utf8.substr(at), folded))
            return true;
        // On to the next character; bytes that are no UTF-8 are stepped over one by one.
        const std::size_t before = at;
        if (NextCodePoint(utf8, at) == NoCharacter)
            at = before + 1;
    }
    return folded.empty();
}

std::vector<std::u32string> FoldedWords(QStringView typed)
{
    std::vector<std::u32string> words;
    for (const QStringView word : typed.split(QLatin1Char(' '), Qt::SkipEmptyParts))
        if (std::u32string folded = FoldedForFind(word); !folded.empty())
            words.push_back(std::move(folded));
    return words;
}
