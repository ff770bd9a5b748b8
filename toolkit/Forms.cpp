#include "Forms.h"

#include "Controls.h"
#include "Guard.h"
#include "Modal.h"
#include "Placement.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <algorithm>
#include <map>
#include <vector>

namespace {

Qt::WindowFlags FlagsFor(TBorderIcons icons)
{
    Qt::WindowFlags flags = Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint
        | Qt::MSWindowsFixedSizeDialogHint;
    switch (icons) {
    case TBorderIcons::None: break;
    case TBorderIcons::SystemMenu: flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint; break;
    case TBorderIcons::All:
        flags |= Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint | Qt::WindowMinMaxButtonsHint;
        break;
    }
    return flags;
}

// A window's colour fills the window itself; a control's colour fills the control, the text
// area of edits, lists and memos included.
void SetBackground(QWidget* widget, TColor color)
{
    QPalette palette = widget->palette();
    palette.setColor(QPalette::Window, ToQColor(color));
    if (!widget->isWindow())
        palette.setColor(QPalette::Base, ToQColor(color));
    widget->setPalette(palette);
    widget->setAutoFillBackground(true);
}

void SetTextColor(QWidget* widget, TColor color)
{
    QPalette palette = widget->palette();
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        palette.setColor(role, ToQColor(color));
    widget->setPalette(palette);
}

QWidget* CreateWidget(TControlKind kind, const QString& text, QWidget* parent)
{
    switch (kind) {
    case TControlKind::Label: {
        auto* label = new QLabel(text, parent);
        label->setAlignment(Qt::AlignLeft | Qt::AlignTop);
        return label;
    }
    case TControlKind::Image: return new TImage(parent);
    case TControlKind::ListBox: return new QListWidget(parent);
    case TControlKind::GroupBox: return new QGroupBox(text, parent);
    case TControlKind::CheckBox: return new QCheckBox(text, parent);
    case TControlKind::Button: return new QPushButton(text, parent);
    case TControlKind::ColorButton: return new TColorButton(text, parent);
    case TControlKind::Edit: return new QLineEdit(text, parent);
    case TControlKind::Memo: return new QPlainTextEdit(text, parent);
    case TControlKind::Panel: return new TPanel(parent);
    }
    return nullptr;
}

class TDoubleClickFilter final : public QObject {
public:
    TDoubleClickFilter(QObject* parent, std::function<void()> handler)
        : QObject(parent)
        , handler_(std::move(handler))
    {
    }

protected:
    bool eventFilter(QObject*, QEvent* event) override
    {
        if (event->type() == QEvent::MouseButtonDblClick
            && static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton)
            Guarded(handler_);
        return false;
    }

private:
    std::function<void()> handler_;
};

} // namespace

void ConnectDoubleClick(QAbstractScrollArea* area, std::function<void()> handler)
{
    area->viewport()->installEventFilter(new TDoubleClickFilter(area, std::move(handler)));
}

QFont MakeFont(const TFontFace& face)
{
    QFont font(QString::fromLatin1(face.name));
    font.setPixelSize(face.height < 0 ? -face.height : face.height);
    font.setBold(face.bold);
    font.setStyleStrategy(QFont::PreferDefault);
    return font;
}

TForm::TForm(const TFormDescription& window, QWidget* parent)
    : QDialog(parent, FlagsFor(window.borderIcons))
{
    setWindowTitle(QString::fromUtf8(window.caption));
    setFixedSize(window.clientWidth, window.clientHeight);
    SetBackground(this, window.color);
    setFont(MakeFont(window.font));
    SetTextColor(this, window.font.color);
    setSizeGripEnabled(false);
    activation_ = new TActivation(this);
    KeepFrameOnScreen(this);
}

QWidget* TForm::ParentFor(const TControlRow& row)
{
    if (row.parent == nullptr)
        return this;
    return Control<QWidget>(row.parent);
}

void TForm::PlaceControl(QWidget* widget, const TControlRow& row)
{
    widget->setObjectName(QString::fromLatin1(row.name));
    widget->setGeometry(row.bounds.left, row.bounds.top, row.bounds.width, row.bounds.height);
    if (row.hint != nullptr)
        widget->setToolTip(QString::fromUtf8(row.hint));
    if (row.font != nullptr) {
        widget->setFont(MakeFont(*row.font));
        SetTextColor(widget, row.font->color);
    }
    if (row.color)
        SetBackground(widget, *row.color);
    // Labels, pictures and containers never take the focus; a container's tab order only places
    // its children in the chain.
    const bool focusable = !(qobject_cast<QLabel*>(widget) || qobject_cast<TImage*>(widget)
                             || qobject_cast<TPanel*>(widget) || qobject_cast<QGroupBox*>(widget));
    if (!focusable)
        widget->setFocusPolicy(Qt::NoFocus);
    else
        widget->setFocusPolicy(row.tabOrder == NoTabStop ? Qt::ClickFocus : Qt::StrongFocus);
}

void TForm::BuildControls(std::span<const TControlRow> controls)
{
    for (const TControlRow& row : controls) {
        const QString text = row.text ? QString::fromUtf8(row.text) : QString();
        QWidget* widget = CreateWidget(row.kind, text, ParentFor(row));
        PlaceControl(widget, row);
        if (auto* button = qobject_cast<QPushButton*>(widget))
            button->setAutoDefault(true);
    }
    LinkTabOrder(controls);
}

// Qt keeps one focus chain per window; the tables number the stops within each parent, so the
// chain visits each parent's controls in their order, a container's children right after it.
void TForm::LinkTabOrder(std::span<const TControlRow> controls)
{
    std::map<QWidget*, std::vector<const TControlRow*>> byParent;
    for (const TControlRow& row : controls)
        if (row.tabOrder != NoTabStop)
            byParent[ParentFor(row)].push_back(&row);
    for (auto& [parent, rows] : byParent)
        std::ranges::sort(rows, {}, &TControlRow::tabOrder);

    std::vector<QWidget*> chain;
    auto visit = [&](auto&& self, QWidget* parent) -> void {
        for (const TControlRow* row : byParent[parent]) {
            QWidget* widget = Control<QWidget>(row->name);
            chain.push_back(widget);
            self(self, widget);
        }
    };
    visit(visit, this);
    for (std::size_t i = 1; i < chain.size(); ++i)
        setTabOrder(chain[i - 1], chain[i]);
}

void TForm::SetDefaultButton(QPushButton* button)
{
    button->setDefault(true);
}

void TForm::SetMainWindow()
{
    setWindowFlags((windowFlags() & ~Qt::WindowType_Mask) | Qt::Window);
    SetModalMainWindow(this);
}

int TForm::ShowModal()
{
    return RunModal(*this, ModalOwner());
}

void TForm::keyPressEvent(QKeyEvent* event)
{
    if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
        if (cancelButton_ && cancelButton_->isEnabled())
            cancelButton_->click();
        event->accept();
        return;
    }
    QDialog::keyPressEvent(event);
}

void TForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    activation_->WindowShown();
    activateWindow();
}
