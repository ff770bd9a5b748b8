// Loading a text file into a memo (a QPlainTextEdit), the way the form vocabulary's memo does:
// the whole file, line ends of any style, the old text replaced in one step.
#pragma once

#include "SysUtils.h"

#include <QString>
#include <cstddef>
#include <string>
#include <string_view>

class QPlainTextEdit;

// The toolkit's error for a file that cannot be opened.
class EFOpenError : public Exception {
public:
    explicit EFOpenError(const std::string& path);
};

// The toolkit's error for a text too big for a memo.
class EMemoCapacity : public Exception {
public:
    EMemoCapacity();
};

// The most a memo takes from a file. A read-me is a few dozen kilobytes; far beyond that the
// text area becomes too slow to use, so a bigger file is refused rather than half shown.
inline constexpr std::size_t MemoCapacity = std::size_t{16} << 20;

// The longest line the text area gets. Wrapping a line costs time that grows faster than its
// length (a 1 MiB line took most of a minute), so longer lines reach it in pieces; at the text
// area's width a piece is over forty wrapped rows, so the extra breaks are rare on screen.
inline constexpr qsizetype MemoPieceLength = 4096;

// The text of a file's bytes: UTF-8 when they are valid UTF-8, otherwise Windows-1252 (files
// made on Windows keep their accented letters). CR, LF and CR LF each end one line; a line
// longer than MemoPieceLength is broken after a blank, or at that length when it has none.
QString MemoText(std::string_view bytes);

// Replaces the memo's text with the file's. Throws EFOpenError when the file cannot be opened
// or read and EMemoCapacity when it is bigger than MemoCapacity; the memo is then unchanged.
void LoadMemoFromFile(QPlainTextEdit& memo, const std::string& path);
