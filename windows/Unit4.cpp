#include "Unit4.h"

#include "Artwork.h"
#include "Controls.h"

#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace {

constexpr TFontFace WindowFont{"MS Sans Serif", -16, true, clRed};
constexpr TFontFace CreditFont{"MS Sans Serif", -13, true, clRed};
constexpr TFontFace WebFont{"MS Sans Serif", -11, true, clRed};

constexpr TFormDescription AboutWindow{"About Kabinex", 390, 453, clBlack, WindowFont, TBorderIcons::All};

using K = TControlKind;
// The picture comes before the panel so that the panel lies over its lowest rows.
const TControlRow AboutControls[] = {
    {"Image1", K::Image, {40, 8, 321, 241}},
    {"Panel1", K::Panel, {32, 240, 329, 177}, nullptr, nullptr, 0, nullptr, nullptr, clBlack},
    {"Version", K::Label, {115, 8, 112, 20}, "Version 1.02a", nullptr, NoTabStop, "Panel1"},
    {"Label1", K::Label, {40, 40, 256, 16}, "Diseño y programación: Kabinex", nullptr, NoTabStop, "Panel1",
     &CreditFont},
    {"Label2", K::Label, {96, 56, 156, 16}, "Código: Kabinex", nullptr, NoTabStop, "Panel1", &CreditFont},
    {"Label3", K::Label, {128, 72, 91, 16}, "Logo: Kabinex", nullptr, NoTabStop, "Panel1", &CreditFont},
    {"Label4", K::Label, {80, 112, 182, 16}, "mailto://hola@example.org", nullptr, NoTabStop, "Panel1",
     &CreditFont},
    {"Label5", K::Label, {75, 128, 193, 16}, "mailto://arcade@example.org", nullptr, NoTabStop, "Panel1",
     &CreditFont},
    {"Label6", K::Label, {48, 152, 256, 13}, "https://kabinex.example.org", nullptr, NoTabStop, "Panel1", &WebFont},
    {"OKButton", K::Button, {167, 425, 75, 25}, "OK", nullptr, 1},
};

} // namespace

TAboutBox::TAboutBox(QWidget* parent)
    : TForm(AboutWindow, parent)
{
    setWindowIcon(ApplicationIcon());
    BuildControls(AboutControls);
    Panel1 = Control<TPanel>("Panel1");
    Version = Control<QLabel>("Version");
    OKButton = Control<QPushButton>("OKButton");
    Image1 = Control<TImage>("Image1");
    Label1 = Control<QLabel>("Label1");
    Label2 = Control<QLabel>("Label2");
    Label3 = Control<QLabel>("Label3");
    Label4 = Control<QLabel>("Label4");
    Label5 = Control<QLabel>("Label5");
    Label6 = Control<QLabel>("Label6");

    Image1->SetPicture(AboutLogo());
    SetDefaultButton(OKButton);
    connect(OKButton, &QPushButton::clicked, this, &QDialog::accept);
}

void TAboutBox::showEvent(QShowEvent* event)
{
    // Centred at the first opening only; later openings come back where the user left it.
    if (!placed_) {
        placed_ = true;
        if (const QScreen* screen = this->screen())
            move(screen->availableGeometry().center() - rect().center());
    }
    TForm::showEvent(event);
}
