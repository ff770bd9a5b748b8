// Drives Kabinex from pads and arcade sticks by turning their buttons into the keys every window
// already answers: arrows, page keys and Tab, Enter, Escape, the list's view keys. The keys go to the
// focused control of the active Kabinex window. Nothing is read while no Kabinex window is active
// or while a game Kabinex started runs: the emulator owns the pad then.
#pragma once

#include "PadDevices.h"

#include <QObject>
#include <QPointer>
#include <QTimer>
#include <cstdint>
#include <functional>

class QAbstractButton;
class QWidget;

struct TPadWindows {
    // Where B does nothing, Back opens the read-me (by helpButton) and Back+Start held quits.
    QWidget* mainWindow = nullptr;
    QAbstractButton* helpButton = nullptr;
    // While it shows, B is Escape even in the main window: it cancels the wait it shows.
    QWidget* progressWindow = nullptr;
    // Whether a game Kabinex started still runs.
    std::function<bool()> gameRunning;
};

// A pad in use is read every 50 ms; one left alone for a while every 150 ms, since each wake of
// the event loop costs the idle program about 0.1 ms of CPU (SDL's own part is about 1 us).
inline constexpr int PadPollMilliseconds = 50;
inline constexpr int PadRestingPollMilliseconds = 150;
inline constexpr std::int64_t PadRestingAfterMilliseconds = 5000;
// With no device to read, or nothing to act on, SDL is only asked for newly plugged devices: it
// offers no descriptor to wait on for them.
inline constexpr int PadIdleMilliseconds = 1000;

class TPadInput : public QObject {
    Q_OBJECT
public:
    // clock: steady milliseconds; tests pass their own.
    explicit TPadInput(TPadWindows windows, std::function<std::int64_t()> clock = {});

    // Reads the devices and acts on what they did; the timer calls it, tests may too.
    void Poll();
    int Devices() const { return devices_.Count(); }

private:
    bool Listening() const;
    void Act(const TPadOutput& output);
    void Schedule();

    TPadWindows windows_;
    std::function<std::int64_t()> clock_;
    TPadDevices devices_;
    TPadMapper mapper_;
    QTimer timer_;
    std::int64_t lastUsed_ = 0;
};
