// The find box: a small "Buscar:" field laid over the main window, not a window of its own, so
// that it takes the keys with or without a window manager. Enter and F3 ask for the next game
// holding the text; Escape closes it.
#pragma once

#include <QFrame>
#include <QString>

class QLineEdit;

class TFindBox : public QFrame {
    Q_OBJECT
public:
    explicit TFindBox(QWidget* parent);

    // Shows the box over its parent's controls with the last text selected, ready for typing.
    void Open();
    QString Text() const;

signals:
    void FindNext(const QString& text);
    // After Escape: the box is hidden and the focus should go back where the user came from.
    void Closed();

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLineEdit* field_;
};
