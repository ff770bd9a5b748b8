#include "Unit2.h"

#include "Artwork.h"
#include "FileSystem.h"
#include "Guard.h"
#include "Memo.h"

#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr TFontFace WindowFont{"MS Sans Serif", -11, false, clWindowText};
constexpr TFontFace MemoFont{"Courier", -11, false, clRed};

constexpr TFormDescription ViewerWindow{"Mave - README.TXT", 632, 453, clMenu, WindowFont, TBorderIcons::None};

using K = TControlKind;
const TControlRow ViewerControls[] = {
    {"Memo1", K::Memo, {0, 0, 632, 417}, "Memo1", nullptr, 0, nullptr, &MemoFont, clBlack},
    {"Back", K::Button, {512, 424, 113, 25}, "Volver a Kabinex  ", nullptr, 1},
    {"Button1", K::Button, {208, 424, 161, 25}, "Button1", nullptr, 2},
};

} // namespace

TForm2::TForm2(std::function<std::string()> emulatorDir, std::function<std::string()> programDir, QWidget* parent)
    : TForm(ViewerWindow, parent)
    , emulatorDir_(std::move(emulatorDir))
    , programDir_(std::move(programDir))
{
    setWindowIcon(ApplicationIcon());
    BuildControls(ViewerControls);
    Memo1 = Control<QPlainTextEdit>("Memo1");
    Back = Control<QPushButton>("Back");
    Button1 = Control<QPushButton>("Button1");

    Memo1->setReadOnly(true);
    Memo1->setLineWrapMode(QPlainTextEdit::WidgetWidth);
    Memo1->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    Memo1->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    // Read-only text still takes the keyboard for scrolling and selecting.
    Memo1->setTextInteractionFlags(Qt::TextSelectableByMouse | Qt::TextSelectableByKeyboard);

    SetDefaultButton(Button1);
    SetCancelButton(Back);
    ConnectHandler(Back, &QPushButton::clicked, this, &TForm2::BackClick);
    ConnectHandler(Button1, &QPushButton::clicked, this, &TForm2::Button1Click);
}

std::string TForm2::EmulatorReadmePath() const
{
    return platform::FindEntry(emulatorDir_(), "readme.txt");
}

std::string TForm2::LauncherReadmePath() const
{
    return platform::FindEntry(programDir_(), "KABINEX.TXT");
}

void TForm2::showEvent(QShowEvent* event)
{
    // Centred at the first opening only; later openings come back where the user left it.
    if (!placed_) {
        placed_ = true;
        if (const QScreen* screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
    }
    TForm::showEvent(event);
    Back->setFocus(Qt::OtherFocusReason);
    Guarded([this] { FormShow(); });
}

void TForm2::FormShow()
{
    emulatorReadmeShown_ = false;
    Button1Click();
}

void TForm2::Button1Click()
{
    // The load comes first: when it fails, nothing else changes and a second click retries it.
    if (emulatorReadmeShown_) {
        LoadMemoFromFile(*Memo1, LauncherReadmePath());
        SetCaption(QStringLiteral("Mave - KABINEX.TXT"));
        Button1->setText(QStringLiteral("Ver MAVE  README.TXT"));
        emulatorReadmeShown_ = false;
    } else {
        LoadMemoFromFile(*Memo1, EmulatorReadmePath());
        SetCaption(QStringLiteral("Mave - README.TXT"));
        Button1->setText(QStringLiteral("Ver KABINEX.TXT "));
        emulatorReadmeShown_ = true;
    }
}

void TForm2::BackClick()
{
    reject();
}
