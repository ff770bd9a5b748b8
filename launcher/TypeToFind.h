// The comparisons behind type-to-find and the find box: a description begins with (or holds) the
// typed text when both agree letter by letter, ignoring letter case and accents ("volc" begins
// "Volcán", "NU" begins "ñu", "dragon" is held by "La Sombra del Dragón").
#pragma once

#include <QStringView>
#include <string>
#include <string_view>
#include <vector>

// The typed text as the comparison sees it: each character lowered and stripped of its accent.
std::u32string FoldedForFind(QStringView typed);

// The UTF-8 text begins with folded (made by FoldedForFind). Bytes that are no UTF-8 match
// nothing typed.
bool BeginsWithFolded(std::string_view utf8, std::u32string_view folded);

// The UTF-8 text holds folded somewhere, starting at any of its characters.
bool HoldsFolded(std::string_view utf8, std::u32string_view folded);

// The blank-separated words of the typed text, each folded; none for a text of blanks only.
std::vector<std::u32string> FoldedWords(QStringView typed);
