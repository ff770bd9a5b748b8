#include "Memo.h"

#include "Files.h"
#include "Text.h"

#include <QPlainTextEdit>
#include <QStringDecoder>
#include <array>

namespace {

QString Decode(std::string_view bytes)
{
    QStringDecoder utf8(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    QString text = utf8.decode(QByteArrayView(bytes.data(), qsizetype(bytes.size())));
    if (!utf8.hasError())
        return text;
    // Not UTF-8: read as Windows-1252, as the settings file is.
    const std::string decoded = platform::DecodeWindows1252(bytes);
    return QString::fromUtf8(decoded.data(), qsizetype(decoded.size()));
}

// Where a piece of a long line ends: after the last blank of the piece when it has one, so that
// words stay whole, and never between the halves of a surrogate pair.
qsizetype PieceEnd(const QString& text, qsizetype start, qsizetype end)
{
    if (end - start <= MemoPieceLength)
        return end;
    qsizetype cut = start + MemoPieceLength;
    for (qsizetype i = cut - 1; i > start + MemoPieceLength / 2; --i)
        if (text[i] == u' ' || text[i] == u'\t')
            return i + 1;
    if (text[cut].isLowSurrogate())
        --cut;
    return cut;
}

// Appends one line, broken into pieces when it is long.
void AppendLine(QString& text, const QString& decoded, qsizetype start, qsizetype end)
{
    do {
        const qsizetype pieceEnd = PieceEnd(decoded, start, end);
        text.append(QStringView(decoded).mid(start, pieceEnd - start));
        if (pieceEnd != end)
            text += u'\n';
        start = pieceEnd;
    } while (start < end);
}

// True when the text has no CR and no line longer than a piece: the text area can take it as
// it stands, without a second copy of a file that may be many megabytes.
bool FitsAsItStands(const QString& text)
{
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r')
            return false;
        if (text[i] == u'\n') {
            if (i - lineStart > MemoPieceLength)
                return false;
            lineStart = i + 1;
        }
    }
    return text.size() - lineStart <= MemoPieceLength;
}

} // namespace

EFOpenError::EFOpenError(const std::string& path)
    : Exception("Datei " + path + " kann nicht geöffnet werden")
{
}

EMemoCapacity::EMemoCapacity()
    : Exception("Text überschreitet Memo-Kapazität")
{
}

QString MemoText(std::string_view bytes)
{
    // The widget keeps lines, not line-end characters: every CR, LF or CR LF becomes one break.
    const QString decoded = Decode(bytes);
    if (FitsAsItStands(decoded))
        return decoded;
    QString text;
    text.reserve(decoded.size() + decoded.size() / (MemoPieceLength / 2) + 1);
    qsizetype lineStart = 0;
    for (qsizetype i = 0; i < decoded.size(); ++i) {
        const QChar c = decoded[i];
        if (c != u'\r' && c != u'\n')
            continue;
        AppendLine(text, decoded, lineStart, i);
        text += u'\n';
        if (c == u'\r' && i + 1 < decoded.size() && decoded[i + 1] == u'\n')
            ++i;
        lineStart = i + 1;
    }
    AppendLine(text, decoded, lineStart, decoded.size());
    return text;
}

void LoadMemoFromFile(QPlainTextEdit& memo, const std::string& path)
{
    // Only regular files: a directory reads as nothing, and a pipe would block the window.
    const platform::TFileRead read = platform::ReadFileUpTo(path, MemoCapacity, true);
    if (read.fault == platform::TReadFault::TooLarge)
        throw EMemoCapacity();
    if (read.fault != platform::TReadFault::None)
        throw EFOpenError(path);
    memo.setPlainText(MemoText(read.bytes));
}
