// Windows described as data. A form gives its window description and a table of its controls;
// BuildControls turns the table into Qt widgets named after the controls. How a form runs modally
// is Modal.h's; when its activation handler runs, Activation.h's.
#pragma once

#include "Activation.h"
#include "Colors.h"

#include <QAbstractButton>
#include <QDialog>
#include <QPointer>
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
    void SetOnActivate(std::function<void()> handler) { activation_->SetHandler(std::move(handler)); }

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    QWidget* ParentFor(const TControlRow& row);
    void LinkTabOrder(std::span<const TControlRow> controls);

    QPointer<QAbstractButton> cancelButton_;
    TActivation* activation_ = nullptr; // owned by the form
};
