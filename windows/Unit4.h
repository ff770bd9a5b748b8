// TAboutBox: the about window. Logo, version and credits in red on black, and an OK button;
// everything it does comes from its window description.
#pragma once

#include "Forms.h"

class QLabel;
class QPushButton;
class TImage;
class TPanel;

class TAboutBox : public TForm {
    Q_OBJECT
public:
    explicit TAboutBox(QWidget* parent = nullptr);

    TPanel* Panel1 = nullptr;
    QLabel* Version = nullptr;
    QPushButton* OKButton = nullptr;
    TImage* Image1 = nullptr;
    QLabel* Label1 = nullptr;
    QLabel* Label2 = nullptr;
    QLabel* Label3 = nullptr;
    QLabel* Label4 = nullptr;
    QLabel* Label5 = nullptr;
    QLabel* Label6 = nullptr;

protected:
    void showEvent(QShowEvent* event) override;

private:
    bool placed_ = false;
};
