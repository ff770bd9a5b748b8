// The comparison behind type-to-find: a description begins with the typed text when both agree
// letter by letter, ignoring letter case and accents ("volc" begins "Volcán", "NU" begins "ñu").
#pragma once

#include <QStringView>
#include <string>
#include <string_view>

// The typed text as the comparison sees it: each character lowered and stripped of its accent.
std::u32string FoldedForFind(QStringView typed);

// The UTF-8 text begins with folded (made by FoldedForFind). Bytes that are no UTF-8 match
// nothing typed.
bool BeginsWithFolded(std::string_view utf8, std::u32string_view folded);
