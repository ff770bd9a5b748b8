#include "FmProgr.h"

#include "Application.h"
#include "Modal.h"
#include "progress.h"

#include <cmath>
#include <limits>

TProgressForm* ProgressForm = nullptr;

namespace {

const TFormDescription ProgressFormDescription{
    "Progress", 267, 130, clBtnFace, {"System", -14, false, clWindowText}, TBorderIcons::All,
};

const TControlRow Gauge1Row{"Gauge1", TControlKind::Panel, {0, 0, 267, 130}};

constexpr int ProgressFormLeft = 11;
constexpr int ProgressFormTop = 8;

// fraction × 100 rounded, halves to the even neighbour, held within the int range so that an
// infinite or huge negative fraction cannot overflow the conversion.
int PercentOf(long double fraction)
{
    const long double percent = std::nearbyintl(fraction * 100.0L);
    if (percent <= static_cast<long double>(std::numeric_limits<int>::min()))
        return std::numeric_limits<int>::min();
    if (percent >= static_cast<long double>(std::numeric_limits<int>::max()))
        return std::numeric_limits<int>::max();
    return int(percent);
}

} // namespace

TProgressForm::TProgressForm(QWidget* parent) : TForm(ProgressFormDescription, parent)
{
    setObjectName(QStringLiteral("ProgressForm"));
    // A sizeable window, unlike the fixed dialogs the form builder makes by default.
    setWindowFlag(Qt::MSWindowsFixedSizeDialogHint, false);
    setMinimumSize(0, 0);
    setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);
    resize(ProgressFormDescription.clientWidth, ProgressFormDescription.clientHeight);
    move(ProgressFormLeft, ProgressFormTop);
    // Closing this window only hides it; it must never end the program.
    setAttribute(Qt::WA_QuitOnClose, false);

    Gauge1 = new TGauge(this);
    PlaceControl(Gauge1, Gauge1Row);
    Gauge1->setFocusPolicy(Qt::NoFocus);
    Gauge1->SetKind(gkNeedle);
    Gauge1->SetForeColor(clBlue);
    Gauge1->SetProgress(0);
}

void TProgressForm::resizeEvent(QResizeEvent* event)
{
    TForm::resizeEvent(event);
    // The gauge fills the whole client area.
    if (Gauge1 != nullptr)
        Gauge1->setGeometry(rect());
}

void TProgressForm::SetFraction(float fraction)
{
    // Widened exactly and compared with the extended constant: the single-precision value nearest
    // to 0.9999 lies just below it and still shows the window.
    const long double widened = fraction;
    if (!(widened <= 0.9999L)) {
        const bool wasShown = isVisible();
        hide();
        // The window took the focus when it showed (as every form does); the main window gets it back.
        if (wasShown)
            ReturnFocusFrom(this);
        return;
    }
    if (!isVisible())
        show();
    Gauge1->SetProgress(PercentOf(widened));
}

void CreateProgressForm()
{
    if (ProgressForm == nullptr)
        ProgressForm = new TProgressForm();
    InstallProgressHook();
}

void DestroyProgressForm()
{
    ProgressHook = nullptr;
    delete ProgressForm;
    ProgressForm = nullptr;
}

void ReportProgress(float fraction)
{
    if (ProgressForm != nullptr)
        ProgressForm->SetFraction(fraction);
    ProcessMessages();
}

void ProgressToWindow(float fraction)
{
    ReportProgress(fraction);
}

void InstallProgressHook()
{
    ProgressHook = ProgressToWindow;
}
