// Holds the keys that come to a window while its activation runs (the handler may dispatch
// waiting events) and hands them to it afterwards, so that they reach the control the activation
// gave the focus to: a Down pressed as a window closes moves the list, not the button that opened
// it. Keys to other windows, such as an error box the activation shows, pass.
#pragma once

#include <QObject>
#include <QPointer>
#include <QWindow>
#include <memory>
#include <vector>

class TKeyHolder final : public QObject {
public:
    // Holds the keys to window from now on.
    explicit TKeyHolder(QWindow* window);
    // Hands the held keys to the window, in order, if it still exists.
    ~TKeyHolder() override;

protected:
    bool eventFilter(QObject* target, QEvent* event) override;

private:
    QPointer<QWindow> window_;
    std::vector<std::unique_ptr<QEvent>> held_;
};
