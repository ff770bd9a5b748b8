#include "Forms.h"

#include "Controls.h"
#include "Guard.h"

#include <QCheckBox>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMessageBox>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <map>
#include <vector>

namespace {

// The window of the widget that last had the focus, kept across all forms.
QPointer<QWindow> previousFocusWindow;

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

} // namespace

QFont MakeFont(const TFontSpec& spec)
{
    QFont font(QString::fromLatin1(spec.name));
    font.setPixelSize(spec.height < 0 ? -spec.height : spec.height);
    font.setBold(spec.bold);
    font.setStyleStrategy(QFont::PreferDefault);
    return font;
}

TForm::TForm(const TFormSpec& spec, QWidget* parent)
    : QDialog(parent, FlagsFor(spec.borderIcons))
{
    setWindowTitle(QString::fromUtf8(spec.caption));
    setFixedSize(spec.clientWidth, spec.clientHeight);
    SetBackground(this, spec.color);
    setFont(MakeFont(spec.font));
    SetTextColor(this, spec.font.color);
    setSizeGripEnabled(false);
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &TForm::FocusWindowChanged);
}

QWidget* TForm::ParentFor(const TControlSpec& spec)
{
    if (spec.parent == nullptr)
        return this;
    return Control<QWidget>(spec.parent);
}

void TForm::PlaceControl(QWidget* widget, const TControlSpec& spec)
{
    widget->setObjectName(QString::fromLatin1(spec.name));
    widget->setGeometry(spec.bounds.left, spec.bounds.top, spec.bounds.width, spec.bounds.height);
    if (spec.hint != nullptr)
        widget->setToolTip(QString::fromUtf8(spec.hint));
    if (spec.font != nullptr) {
        widget->setFont(MakeFont(*spec.font));
        SetTextColor(widget, spec.font->color);
    }
    if (spec.color)
        SetBackground(widget, *spec.color);
    // Labels, pictures and containers never take the focus; a container's tab order only places
    // its children in the chain.
    const bool focusable = !(qobject_cast<QLabel*>(widget) || qobject_cast<TImage*>(widget)
                             || qobject_cast<TPanel*>(widget) || qobject_cast<QGroupBox*>(widget));
    if (!focusable)
        widget->setFocusPolicy(Qt::NoFocus);
    else
        widget->setFocusPolicy(spec.tabOrder == NoTabStop ? Qt::ClickFocus : Qt::StrongFocus);
}

void TForm::BuildControls(std::span<const TControlSpec> controls)
{
    for (const TControlSpec& spec : controls) {
        const QString text = spec.text ? QString::fromUtf8(spec.text) : QString();
        QWidget* widget = CreateWidget(spec.kind, text, ParentFor(spec));
        PlaceControl(widget, spec);
        if (auto* button = qobject_cast<QPushButton*>(widget))
            button->setAutoDefault(true);
    }
    LinkTabOrder(controls);
}

// Qt keeps one focus chain per window; the tables number the stops within each parent, so the
// chain visits each parent's controls in their order, a container's children right after it.
void TForm::LinkTabOrder(std::span<const TControlSpec> controls)
{
    std::map<QWidget*, std::vector<const TControlSpec*>> byParent;
    for (const TControlSpec& spec : controls)
        if (spec.tabOrder != NoTabStop)
            byParent[ParentFor(spec)].push_back(&spec);
    for (auto& [parent, specs] : byParent)
        std::ranges::sort(specs, {}, &TControlSpec::tabOrder);

    std::vector<QWidget*> chain;
    auto visit = [&](auto&& self, QWidget* parent) -> void {
        for (const TControlSpec* spec : byParent[parent]) {
            QWidget* widget = Control<QWidget>(spec->name);
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

int TForm::ShowModal()
{
    return exec();
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

// Without a window manager a new window may never receive the focus; the first activation
// must still happen once the window is on screen.
void TForm::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (!activatedOnce_)
        QTimer::singleShot(0, this, [this] {
            if (!activatedOnce_)
                RunActivation();
        });
    activateWindow();
}

void TForm::RunActivation()
{
    if (!onActivate_)
        return;
    activatedOnce_ = true;
    Guarded(onActivate_);
}

void TForm::FocusWindowChanged(QWindow* now)
{
    const QPointer<QWindow> previous = previousFocusWindow;
    if (now != nullptr)
        previousFocusWindow = now;
    if (now == nullptr || now != windowHandle() || !onActivate_)
        return;
    const bool fromOwnWindow = previous && previous != now
        && !qobject_cast<QMessageBox*>(QWidget::find(previous->winId()));
    if (activatedOnce_ && !fromOwnWindow)
        return;
    RunActivation();
}
