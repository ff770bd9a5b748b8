// TForm2: the read-me viewer. Shows the emulator's readme.txt or Kabinex's own KABINEX.TXT in a
// read-only text area; one button switches between them, the other closes the window.
#pragma once

#include "Forms.h"

#include <functional>
#include <string>

class QPlainTextEdit;
class QPushButton;

class TForm2 : public TForm {
    Q_OBJECT
public:
    // emulatorDir gives the main window's emulator directory as it stands at each load, so a
    // directory picked during the run is used at once; programDir gives the program directory.
    TForm2(std::function<std::string()> emulatorDir, std::function<std::string()> programDir,
           QWidget* parent = nullptr);

    QPlainTextEdit* Memo1 = nullptr;
    QPushButton* Back = nullptr;
    QPushButton* Button1 = nullptr;

    void FormShow();
    void BackClick();
    void Button1Click();

    // True while the text area holds the emulator's read-me.
    bool EmulatorReadmeShown() const { return emulatorReadmeShown_; }

    std::string EmulatorReadmePath() const;
    std::string LauncherReadmePath() const;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::function<std::string()> emulatorDir_;
    std::function<std::string()> programDir_;
    bool emulatorReadmeShown_ = false;
    bool placed_ = false;
};
