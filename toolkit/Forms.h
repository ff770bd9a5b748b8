// Windows described as data. A form gives its window description and a table of its controls;
// BuildControls turns the table into Qt widgets named after the controls.
#pragma once

#include "Colors.h"

#include <QAbstractButton>
#include <QDialog>
#include <QPointer>
#include <QWindow>
#include <functional>
#include <optional>
#include <span>



enum class TControlKind { Label, Image, ListBox, GroupBox, CheckBox, Button, ColorButton, Edit, Memo, Panel };

// The font of a window or control. A negative height is in pixels, as the descriptions give it.
struct TFontFace {
    const char* name;
    int height;
    bool bold;
    TColor color;
};

struct TBounds {
    int left, top, width, height;
};

inline constexpr int NoTabStop = -1;

struct TControlRow {
    const char* name;
    TControlKind kind;
    TBounds bounds;
    const char* text = nullptr;
    const char* hint = nullptr;
    int tabOrder = NoTabStop;
    const char* parent = nullptr; // nullptr: the form itself
    const TFontFace* font = nullptr; // nullptr: the parent's font
    std::optional<TColor> color = std::nullopt; // background; nullopt: the kind's usual one
};

enum class TBorderIcons { None, SystemMenu, All };

struct TFormDescription {
    const char* caption;
    int clientWidth;
    int clientHeight;
    TColor color;
    TFontFace font;
    TBorderIcons borderIcons;
};

QFont MakeFont(const TFontFace& face);

// Brings a modal window that the window manager let the user minimise back in front, with the
// focus, when the user activates or clicks a window it blocks. Called once at start.
void KeepModalWindowsInReach();

// The window a new modal window belongs to: the topmost modal window open, else the main window.
QWidget* ModalOwner();
// Readies window to run modally over owner: no minimise box (a minimised modal window would leave
// nothing to use), kept above its owner and placed over it by the window manager, or by Qt without one.
void PrepareModal(QWidget* window, QWidget* owner);
// Runs a prepared modal dialog. Without a window manager nobody else hands out the keyboard focus:
// the dialog takes it when it shows, and owner gets it back when the dialog closes.
int RunModal(QDialog& dialog, QWidget* owner);

class QAbstractScrollArea;
// Runs handler (inside the guard) on a double-click anywhere in a list or text area, its empty
// part included; Qt's item signals see only double-clicks on items.
void ConnectDoubleClick(QAbstractScrollArea* area, std::function<void()> handler);

class TForm : public QDialog {
    Q_OBJECT
public:
    explicit TForm(const TFormDescription& window, QWidget* parent = nullptr);

    // Creates the controls of the table, in order, and links their tab order.
    void BuildControls(std::span<const TControlRow> controls);
    // Puts a widget made elsewhere where a table row says.
    void PlaceControl(QWidget* widget, const TControlRow& row);

    template <class Widget>
    Widget* Control(const char* name) const
    {
        auto* widget = findChild<Widget*>(QString::fromLatin1(name));
        Q_ASSERT_X(widget, "TForm::Control", name);
        return widget;
    }

    QString Caption() const { return windowTitle(); }
    void SetCaption(const QString& caption) { setWindowTitle(caption); }

    // Enter presses the default button unless another push button has the focus; Escape
    // presses the cancel button.
    void SetDefaultButton(QPushButton* button);
    void SetCancelButton(QAbstractButton* button) { cancelButton_ = button; }

    int ShowModal();

    // Makes this form the application's main window: an ordinary top-level window, as window
    // managers and task bars expect, instead of a dialog kept above an invisible owner.
    void SetMainWindow();

    // Runs when the window is first shown and whenever the focus comes back to it from another
    // form of the program or a file dialog; not when the user comes back from another program,
    // and not after a message box or the error box.
    void SetOnActivate(std::function<void()> handler) { onActivate_ = std::move(handler); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void FocusWindowChanged(QWindow* now);
    void RunActivation();
    QWidget* ParentFor(const TControlRow& row);
    void LinkTabOrder(std::span<const TControlRow> controls);

    QPointer<QAbstractButton> cancelButton_;
    std::function<void()> onActivate_;
    // The last window that had the focus, this one included; null after it was destroyed.
    QPointer<QWindow> lastFocusWindow_;
    // Whether that window's closing counts as the focus coming back from another window.
    bool lastFocusActivates_ = false;
    bool activatedOnce_ = false;
};
