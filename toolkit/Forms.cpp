#include "Forms.h"

#include "Application.h"
#include "Controls.h"
#include "Guard.h"

#include <QAbstractNativeEventFilter>
#include <QApplication>
#include <QCheckBox>
#include <QFileDialog>
#include <QGroupBox>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QLineEdit>
#include <QListWidget>
#include <QPlainTextEdit>
#include <QTimer>
#include <QWindow>
#include <algorithm>
#include <map>
#include <memory>
#include <set>
#include <vector>
#include <xcb/xcb.h>

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
    connect(qGuiApp, &QGuiApplication::focusWindowChanged, this, &TForm::FocusWindowChanged);
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

namespace {

QPointer<QWidget>& MainWindow()
{
    static QPointer<QWidget> mainWindow;
    return mainWindow;
}

// Qt drops the focus that reaches a window blocked by a modal window, so it is watched before Qt
// sees it: the window manager handing the focus to such a window, as it does when the user clicks
// or activates it (and, with openbox, as soon as the modal window is minimised), brings a modal
// window that the window manager took off the screen back, with the focus. Which windows are off
// the screen is read from the same event stream, so it is always in step with the focus events.
class TModalKeeper final : public QAbstractNativeEventFilter {
public:
    bool nativeEventFilter(const QByteArray& eventType, void* message, qintptr*) override
    {
        if (eventType != "xcb_generic_event_t")
            return false;
        const auto* event = static_cast<const xcb_generic_event_t*>(message);
        switch (event->response_type & 0x7f) {
        case XCB_UNMAP_NOTIFY: unmapped_.insert(reinterpret_cast<const xcb_unmap_notify_event_t*>(event)->window); break;
        case XCB_MAP_NOTIFY: unmapped_.erase(reinterpret_cast<const xcb_map_notify_event_t*>(event)->window); break;
        case XCB_DESTROY_NOTIFY: unmapped_.erase(reinterpret_cast<const xcb_destroy_notify_event_t*>(event)->window); break;
        case XCB_FOCUS_IN: {
            const auto* focusIn = reinterpret_cast<const xcb_focus_in_event_t*>(event);
            if (focusIn->detail != XCB_NOTIFY_DETAIL_POINTER)
                FocusCameTo(focusIn->event);
            break;
        }
        default: break;
        }
        return false;
    }

private:
    void FocusCameTo(xcb_window_t window)
    {
        QWidget* modal = QApplication::activeModalWidget();
        if (modal == nullptr || modal->windowHandle() == nullptr)
            return;
        const xcb_window_t modalWindow = modal->windowHandle()->winId();
        if (window == modalWindow || !unmapped_.contains(modalWindow))
            return;
        // Mapping a minimised window is how a client restores it; Qt would do the same, but its idea
        // of the window's state may lag behind the events read here.
        if (auto* x11 = qApp->nativeInterface<QNativeInterface::QX11Application>(); x11 && x11->connection()) {
            xcb_map_window(x11->connection(), modalWindow);
            xcb_flush(x11->connection());
        }
        QTimer::singleShot(0, modal, [modal] {
            modal->raise();
            modal->activateWindow();
        });
    }

    std::set<xcb_window_t> unmapped_;
};

} // namespace

void KeepModalWindowsInReach()
{
    static TModalKeeper keeper;
    QCoreApplication::instance()->installNativeEventFilter(&keeper);
}

QWidget* ModalOwner()
{
    if (QWidget* modal = QApplication::activeModalWidget())
        return modal;
    // While the main window is being closed and destroyed, nothing of it is on screen to own a window.
    if (MainWindow() && MainWindow()->isVisible())
        return MainWindow();
    return QApplication::activeWindow();
}

void PrepareModal(QWidget* window, QWidget* owner)
{
    const Qt::WindowFlags flags = window->windowFlags();
    if (flags & Qt::WindowMinimizeButtonHint)
        window->setWindowFlags(flags & ~Qt::WindowMinimizeButtonHint);
    // Only without a window manager does the owner place the window (Qt centres it over the owner).
    // A window manager such as openbox minimises a window together with the windows kept for it,
    // and would take the main window away with a minimised dialog; kept for the whole program
    // instead, as Qt does by default, a dialog goes alone and the main window stays to be clicked.
    if (owner == nullptr || owner == window || WindowManagerPresent())
        return;
    window->winId();
    window->windowHandle()->setTransientParent(owner->windowHandle());
}

int RunModal(QDialog& dialog, QWidget* owner)
{
    PrepareModal(&dialog, owner);
    const bool giveFocus = !WindowManagerPresent();
    if (giveFocus)
        QTimer::singleShot(0, &dialog, [&dialog] { dialog.activateWindow(); });
    const QPointer<QWidget> returnTo = owner;
    const int result = dialog.exec();
    if (giveFocus && returnTo && returnTo->isVisible())
        returnTo->activateWindow();
    return result;
}

void TForm::SetMainWindow()
{
    setWindowFlags((windowFlags() & ~Qt::WindowType_Mask) | Qt::Window);
    MainWindow() = this;
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

namespace {

// Holds the keys that come to a window while its activation runs (the handler may dispatch
// waiting events) and hands them to it afterwards, so that they reach the control the activation
// gave the focus to: a Down pressed as a window closes moves the list, not the button that opened
// it. Keys to other windows, such as an error box the activation shows, pass.
class TKeyHolder final : public QObject {
public:
    explicit TKeyHolder(QWindow* window)
        : window_(window)
    {
        QCoreApplication::instance()->installEventFilter(this);
    }

    ~TKeyHolder() override
    {
        QCoreApplication::instance()->removeEventFilter(this);
        for (auto& event : held_)
            if (window_)
                QCoreApplication::postEvent(window_, event.release());
    }

protected:
    bool eventFilter(QObject* target, QEvent* event) override
    {
        const bool key = event->type() == QEvent::KeyPress || event->type() == QEvent::KeyRelease;
        // Keys come to the window first, which passes them on to its focused control.
        if (!key || window_ == nullptr || target != window_)
            return false;
        held_.emplace_back(static_cast<QKeyEvent*>(event)->clone());
        return true;
    }

private:
    QPointer<QWindow> window_;
    std::vector<std::unique_ptr<QEvent>> held_;
};

} // namespace

void TForm::RunActivation()
{
    if (!onActivate_)
        return;
    activatedOnce_ = true;
    const TKeyHolder holdKeys(windowHandle());
    Guarded(onActivate_);
}

namespace {

// The program's own forms and the file dialogs count: the focus coming back from a message box or
// the error box is no activation (an error box shown by the activation would come back forever).
bool ClosingActivates(const QWindow* window)
{
    for (QWidget* widget : QApplication::topLevelWidgets())
        if (widget->windowHandle() == window)
            return qobject_cast<TForm*>(widget) != nullptr || qobject_cast<QFileDialog*>(widget) != nullptr;
    return false;
}

} // namespace

// Each form keeps its own record of where the focus was, so the order in which forms were
// created (and so the order in which they hear of a change) cannot hide an activation. What counts
// is recorded when a window gets the focus: a file dialog is gone by the time the focus comes back.
void TForm::FocusWindowChanged(QWindow* now)
{
    if (now == nullptr)
        return;
    const QPointer<QWindow> previous = lastFocusWindow_;
    const bool previousActivates = lastFocusActivates_;
    lastFocusWindow_ = now;
    lastFocusActivates_ = ClosingActivates(now);
    if (now != windowHandle() || !onActivate_)
        return;
    const bool fromOtherWindow = previousActivates && previous != now;
    if (activatedOnce_ && !fromOtherWindow)
        return;
    RunActivation();
}
