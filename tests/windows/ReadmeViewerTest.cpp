// The read-me viewer on real files: its two states, toggling, reopening, failed loads that
// change nothing, line ends, encodings and the size limit.
#include "Memo.h"
#include "ScriptedDialogs.h"
#include "TempDir.h"
#include "Unit2.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTextBlock>
#include <QTimer>
#include <filesystem>
#include <gtest/gtest.h>
#include <sys/stat.h>

namespace {

const QString ReadmeCaption = QStringLiteral("Mave - README.TXT");
const QString KabinexCaption = QStringLiteral("Mave - KABINEX.TXT");
const QString OffersKabinex = QStringLiteral("Ver KABINEX.TXT ");
const QString OffersReadme = QStringLiteral("Ver MAVE  README.TXT");

class ReadmeViewerTest : public testing::Test {
protected:
    ReadmeViewerTest()
    {
        emulatorDir = program.MakeDir("emu");
        program.Write("emu/readme.txt", "emulator read-me\n");
        program.Write("KABINEX.TXT", "kabinex read-me\n");
    }
    std::unique_ptr<TForm2> Make()
    {
        return std::make_unique<TForm2>([this] { return emulatorDir; }, [this] { return program.Path(); });
    }
    // The window as it stands after opening, shown without a modal loop.
    std::unique_ptr<TForm2> Open()
    {
        auto form = Make();
        form->show();
        return form;
    }
    static QString Text(const TForm2& form) { return form.Memo1->toPlainText(); }
    static void ExpectState(const TForm2& form, const QString& caption, const QString& button, const QString& text)
    {
        EXPECT_EQ(form.Caption(), caption);
        EXPECT_EQ(form.Button1->text(), button);
        EXPECT_EQ(Text(form), text);
    }

    TempDir program;
    std::string emulatorDir;
    ScriptedDialogs dialogs;
};

TEST_F(ReadmeViewerTest, DesignTextsBeforeTheFirstOpening)
{
    auto form = Make();
    ExpectState(*form, ReadmeCaption, QStringLiteral("Button1"), QStringLiteral("Memo1"));
    EXPECT_EQ(form->Back->text(), QStringLiteral("Volver a Kabinex  "));
    EXPECT_FALSE(form->EmulatorReadmeShown());
    EXPECT_EQ(form->size(), QSize(632, 453));
    EXPECT_FALSE(form->windowFlags() & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(form->windowFlags() & Qt::WindowSystemMenuHint);
}

TEST_F(ReadmeViewerTest, OpensOnTheEmulatorReadmeAndTogglesBothWays)
{
    auto form = Open();
    ExpectState(*form, ReadmeCaption, OffersKabinex, QStringLiteral("emulator read-me\n"));
    EXPECT_TRUE(form->EmulatorReadmeShown());
    EXPECT_EQ(form->focusWidget(), form->Back);

    form->Button1->click();
    ExpectState(*form, KabinexCaption, OffersReadme, QStringLiteral("kabinex read-me\n"));
    EXPECT_FALSE(form->EmulatorReadmeShown());

    form->Button1->click();
    ExpectState(*form, ReadmeCaption, OffersKabinex, QStringLiteral("emulator read-me\n"));
    EXPECT_TRUE(dialogs.errors.isEmpty());
}

TEST_F(ReadmeViewerTest, ReopeningShowsTheEmulatorReadmeAgainAtTheSamePlace)
{
    auto form = Open();
    form->Button1->click();
    form->move(form->pos() + QPoint(37, 21));
    const QPoint moved = form->pos();
    form->hide();

    form->show();
    ExpectState(*form, ReadmeCaption, OffersKabinex, QStringLiteral("emulator read-me\n"));
    EXPECT_EQ(form->pos(), moved);
}

TEST_F(ReadmeViewerTest, TheEmulatorDirectoryIsReadAtEveryLoad)
{
    program.Write("other/readme.txt", "other emulator\n");
    auto form = Open();
    emulatorDir = program / "other/"; // a trailing separator is used as it stands
    form->Button1->click();
    form->Button1->click();
    EXPECT_EQ(Text(*form), QStringLiteral("other emulator\n"));
    EXPECT_EQ(form->EmulatorReadmePath(), program.Path() + "/other/readme.txt");
}

TEST_F(ReadmeViewerTest, RelativeEmulatorDirectory)
{
    CurrentDirScope here(emulatorDir);
    emulatorDir = ".";
    auto form = Open();
    EXPECT_EQ(form->EmulatorReadmePath(), "./readme.txt");
    EXPECT_EQ(Text(*form), QStringLiteral("emulator read-me\n"));
}

TEST_F(ReadmeViewerTest, MissingEmulatorReadmeOnTheFirstOpeningKeepsTheDesignTexts)
{
    std::filesystem::remove(program / "emu/readme.txt");
    auto form = Open();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_EQ(dialogs.errors[0],
              QString::fromStdString("Datei " + program.Path() + "/emu/readme.txt kann nicht geöffnet werden."));
    EXPECT_TRUE(form->isVisible());
    ExpectState(*form, ReadmeCaption, QStringLiteral("Button1"), QStringLiteral("Memo1"));
    EXPECT_FALSE(form->EmulatorReadmeShown());

    // The next click tries the same file again.
    program.Write("emu/readme.txt", "back again\n");
    form->Button1->click();
    ExpectState(*form, ReadmeCaption, OffersKabinex, QStringLiteral("back again\n"));
}

TEST_F(ReadmeViewerTest, MissingEmulatorReadmeOnReopeningKeepsThePreviousTexts)
{
    auto form = Open();
    form->Button1->click();
    form->hide();
    std::filesystem::remove(program / "emu/readme.txt");

    form->show();
    EXPECT_EQ(dialogs.errors.size(), 1);
    ExpectState(*form, KabinexCaption, OffersReadme, QStringLiteral("kabinex read-me\n"));
}

TEST_F(ReadmeViewerTest, MissingLauncherReadmeOnTogglingChangesNothing)
{
    std::filesystem::remove(program / "KABINEX.TXT");
    auto form = Open();
    form->Button1->click();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].contains(QString::fromStdString(program / "KABINEX.TXT")));
    ExpectState(*form, ReadmeCaption, OffersKabinex, QStringLiteral("emulator read-me\n"));
    EXPECT_TRUE(form->EmulatorReadmeShown());

    form->Button1->click();
    EXPECT_EQ(dialogs.errors.size(), 2);
}

TEST_F(ReadmeViewerTest, OnlyRegularFilesAreRead)
{
    std::filesystem::remove(program / "KABINEX.TXT");
    program.MakeDir("KABINEX.TXT");
    auto form = Open();
    form->Button1->click();
    ASSERT_EQ(dialogs.errors.size(), 1);
    EXPECT_TRUE(dialogs.errors[0].endsWith(QStringLiteral("kann nicht geöffnet werden.")));
    EXPECT_TRUE(form->EmulatorReadmeShown());

    // A pipe would wait for a writer forever.
    std::filesystem::remove(program / "KABINEX.TXT");
    ASSERT_EQ(mkfifo((program / "KABINEX.TXT").c_str(), 0600), 0);
    form->Button1->click();
    EXPECT_EQ(dialogs.errors.size(), 2);
    EXPECT_TRUE(form->EmulatorReadmeShown());
}

TEST_F(ReadmeViewerTest, EveryStyleOfLineEndEndsOneLine)
{
    program.Write("emu/readme.txt", "cr\rlf\ncrlf\r\nlf-cr\n\rend");
    auto form = Open();
    EXPECT_EQ(Text(*form), QStringLiteral("cr\nlf\ncrlf\nlf-cr\n\nend"));
    EXPECT_EQ(form->Memo1->blockCount(), 6);
}

TEST_F(ReadmeViewerTest, TextIsReadOnlyAndWraps)
{
    program.Write("emu/readme.txt", std::string(2000, 'x'));
    auto form = Open();
    EXPECT_TRUE(form->Memo1->isReadOnly());
    EXPECT_EQ(form->Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);

    form->Memo1->setFocus();
    QTest::keyClicks(form->Memo1, QStringLiteral("typed"));
    QTest::keyClick(form->Memo1, Qt::Key_Delete);
    EXPECT_EQ(Text(*form), QString(2000, u'x'));
}

TEST_F(ReadmeViewerTest, EscapeClosesAndBackEndsTheModalLoopWithCancel)
{
    auto form = Make();
    QTimer::singleShot(0, form.get(), [&] { QTest::keyClick(form.get(), Qt::Key_Escape); });
    EXPECT_EQ(form->ShowModal(), QDialog::Rejected);
    EXPECT_FALSE(form->isVisible());

    QTimer::singleShot(0, form.get(), [&] { form->Back->click(); });
    EXPECT_EQ(form->ShowModal(), QDialog::Rejected);
}

TEST_F(ReadmeViewerTest, EnterPressesTheToggleButtonWhenNoOtherButtonHasTheFocus)
{
    auto form = Open();
    form->activateWindow();
    ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    form->Memo1->setFocus();
    QTest::keyClick(form->Memo1, Qt::Key_Return);
    EXPECT_EQ(form->Caption(), KabinexCaption);
    EXPECT_TRUE(form->isVisible());
}

TEST(MemoText, Utf8AndWindows1252)
{
    EXPECT_EQ(MemoText("Ping\xC3\xBC\xC3\xAFno \xE2\x82\xAC"), QStringLiteral(u"Pingüïno €"));
    // Not valid UTF-8: every byte is a Windows-1252 character.
    EXPECT_EQ(MemoText("Ping\xFCino \x80 \x93x\x94"), QStringLiteral(u"Pingüino € “x”"));
    EXPECT_EQ(MemoText(""), QString());
}

TEST_F(ReadmeViewerTest, AFileAboveTheMemoCapacityIsRefused)
{
    const std::string big = program / "big.txt";
    std::filesystem::resize_file(program.Write("big.txt", ""), MemoCapacity + 1);
    QPlainTextEdit memo(QStringLiteral("before"));
    try {
        LoadMemoFromFile(memo, big);
        FAIL() << "no error";
    } catch (const EMemoCapacity& error) {
        EXPECT_STREQ(error.what(), "Text überschreitet Memo-Kapazität");
    }
    EXPECT_EQ(memo.toPlainText(), QStringLiteral("before"));

    std::filesystem::resize_file(big, 64 << 10);
    LoadMemoFromFile(memo, big);
    // One line without a blank: it arrives in pieces.
    EXPECT_EQ(memo.toPlainText().remove(u'\n').size(), 64 << 10);
}

} // namespace

namespace {

TEST(MemoText, LongLinesReachTheTextAreaInPiecesThatJoinBackToTheLine)
{
    std::string words;
    for (int i = 0; words.size() < 3 * std::size_t(MemoPieceLength); ++i)
        words += "palabra" + std::to_string(i) + " ";
    const std::string solid(2 * MemoPieceLength + 10, 'x');
    const std::string emoji = std::string(MemoPieceLength - 1, 'y') + "\xF0\x9F\x98\x80" + "zz";
    const QString text = MemoText(words + "\r\nshort\n" + solid + "\r" + emoji);
    const QStringList lines = text.split(u'\n');
    for (const QString& line : lines)
        EXPECT_LE(line.size(), MemoPieceLength);
    // Words are kept whole: every piece of the worded line ends at a blank.
    qsizetype joined = 0;
    int i = 0;
    for (; joined < qsizetype(words.size()); ++i) {
        EXPECT_TRUE(lines[i].endsWith(u' ')) << i;
        joined += lines[i].size();
    }
    EXPECT_EQ(joined, qsizetype(words.size()));
    EXPECT_EQ(lines[i++], "short");
    EXPECT_EQ((lines[i] + lines[i + 1] + lines[i + 2]).toStdString(), solid);
    i += 3;
    // A surrogate pair is never cut in two.
    EXPECT_EQ(lines[i] + lines[i + 1], QString::fromStdString(emoji));
    EXPECT_FALSE(lines[i].back().isHighSurrogate());
    EXPECT_EQ(lines.size(), i + 2);
}

TEST_F(ReadmeViewerTest, AOneMebibyteLineOpensWrappedInShortBlocks)
{
    std::string line;
    while (line.size() < (1u << 20))
        line += "0123456789abcdefghijklmnopqrstuvwxyz";
    program.Write("emu/readme.txt", line);
    auto form = Open();
    const QTextDocument* document = form->Memo1->document();
    EXPECT_GE(document->blockCount(), int(line.size() / MemoPieceLength));
    for (QTextBlock block = document->begin(); block.isValid(); block = block.next())
        ASSERT_LE(block.length() - 1, MemoPieceLength);
    EXPECT_EQ(form->Memo1->toPlainText().remove(u'\n').toStdString(), line);
    EXPECT_EQ(form->Memo1->lineWrapMode(), QPlainTextEdit::WidgetWidth);
}

} // namespace
