// TProgressForm: the small window with a needle gauge that shows how far a long operation has got.
#pragma once

#include "Forms.h"
#include "Gauges.h"

class TProgressForm : public TForm {
    Q_OBJECT
public:
    explicit TProgressForm(QWidget* parent = nullptr);

    TGauge* Gauge1 = nullptr;

    // Up to 0.9999: shows the window and sets the needle to the rounded percentage. Above it, or
    // not a number: hides the window and leaves the needle as it was.
    void SetFraction(float fraction);

protected:
    void resizeEvent(QResizeEvent* event) override;
};

// The one progress window: hidden, without owner, made at start-up by CreateProgressForm.
extern TProgressForm* ProgressForm;

// Creates the progress window (hidden, at 11, 8) and stores ProgressToWindow in ProgressHook.
// Call once after the QApplication exists and before the main window is made.
void CreateProgressForm();
// Deletes the progress window and empties the hook; the program itself never needs to.
void DestroyProgressForm();

// Sets the fraction on the progress window, then handles every event that is waiting.
void ReportProgress(float fraction);

// Reports the fraction on the progress window (ReportProgress).
void ProgressToWindow(float fraction);
// Stores ProgressToWindow in ProgressHook.
void InstallProgressHook();
