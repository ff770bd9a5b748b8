#include "FindBox.h"

#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>

TFindBox::TFindBox(QWidget* parent)
    : QFrame(parent)
{
    setObjectName(QStringLiteral("FindBox"));
    setFrameShape(QFrame::Box);
    setAutoFillBackground(true);
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(3, 2, 3, 2);
    layout->setSpacing(4);
    layout->addWidget(new QLabel(QStringLiteral("Buscar:"), this));
    field_ = new QLineEdit(this);
    field_->setObjectName(QStringLiteral("FindText"));
    layout->addWidget(field_);
    field_->installEventFilter(this);
    hide();
}

void TFindBox::Open()
{
    show();
    raise();
    field_->setFocus(Qt::ShortcutFocusReason);
    field_->selectAll();
}

QString TFindBox::Text() const
{
    return field_->text();
}

bool TFindBox::eventFilter(QObject* watched, QEvent* event)
{
    if (watched != field_ || (event->type() != QEvent::KeyPress && event->type() != QEvent::ShortcutOverride))
        return QFrame::eventFilter(watched, event);
    const auto* key = static_cast<QKeyEvent*>(event);
    const bool find = key->key() == Qt::Key_Return || key->key() == Qt::Key_Enter || key->key() == Qt::Key_F3;
    const bool close = key->key() == Qt::Key_Escape;
    if (!find && !close)
        return false;
    // Kept from the window: Enter would launch the game and Escape quit the program.
    if (event->type() == QEvent::ShortcutOverride) {
        event->accept();
        return true;
    }
    if (find) {
        emit FindNext(field_->text());
    } else {
        hide();
        emit Closed();
    }
    return true;
}
