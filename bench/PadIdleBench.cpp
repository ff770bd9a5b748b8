// What reading pads costs an idle Kabinex: the real main window in this process, left alone for a
// minute once it has settled, in one of three cases:
//   none:    no pad reading at all (the program as it was);
//   absent:  pads read, none plugged (SDL asked for new devices once a second);
//   pad:     pads read, a game-controller pad and a plain stick plugged (SDL's virtual joysticks),
//            the window active, so they are read every 50 ms.
// CPU is the process's user + system time (getrusage), wake-ups its voluntary and forced context
// switches. Run each case as its own process, on an X server:
//   xvfb-run -a build-bench/pad_idle_bench pad [-s SECONDS]
#include "FmProgr.h"
#include "GifTestSupport.h"
#include "PadInput.h"
#include "Unit1.h"

#include <QApplication>
#include <QDir>
#include <QPushButton>
#include <QTemporaryDir>
#include <QEventLoop>
#include <QTimer>
#include <SDL.h>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <memory>
#include <string>
#include <sys/resource.h>

namespace {

struct Usage {
    double cpuMs;
    long wakeUps;
};

Usage Now()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval& time) { return time.tv_sec * 1000.0 + time.tv_usec / 1000.0; };
    return {ms(usage.ru_utime) + ms(usage.ru_stime), usage.ru_nvcsw + usage.ru_nivcsw};
}

// The event loop alone for a while (QTest::qWait would wake every 10 ms itself).
void RunFor(int milliseconds)
{
    QEventLoop loop;
    QTimer::singleShot(milliseconds, &loop, &QEventLoop::quit);
    loop.exec();
}

} // namespace

int main(int argc, char** argv)
{
    const std::string mode = argc > 1 ? argv[1] : "pad";
    int seconds = 60;
    if (argc > 3 && std::strcmp(argv[2], "-s") == 0)
        seconds = std::atoi(argv[3]);
    QApplication app(argc, argv);
    QTemporaryDir program;
    std::ofstream(program.filePath("kabinex.ini").toStdString())
        << "[path]\nemudir=<no definido!>\n[games]\nalpha=Alpha\nbeta=Beta\n";
    QDir().mkpath(program.filePath("scrshots"));
    std::ofstream(program.filePath("scrshots/notavail.gif").toStdString(), std::ios::binary)
        << giftest::TGifBuilder().Header().Screen(true, 0, 1, 1).Colors(2).Image(1, 1, 2, 0, 2).Trailer().Bytes();
    QDir::setCurrent(program.path());
    CreateProgressForm();
    TForm1 form;
    form.show();
    std::unique_ptr<TPadInput> pads;
    if (mode != "none")
        pads = std::make_unique<TPadInput>(TPadWindows{&form, form.ButtonHelp, ProgressForm, [] { return false; }});
    if (mode == "pad") {
        SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_GAMECONTROLLER, SDL_CONTROLLER_AXIS_MAX, SDL_CONTROLLER_BUTTON_MAX, 0);
        SDL_JoystickAttachVirtual(SDL_JOYSTICK_TYPE_ARCADE_STICK, 2, 4, 1);
    }
    RunFor(3000); // settled: the window shown, the devices opened
    const Usage before = Now();
    RunFor(seconds * 1000);
    const Usage after = Now();
    const double perMinute = 60.0 / seconds;
    std::printf("%-7s devices %d  active %s  CPU %.1f ms/min  wake-ups %.0f/min\n", mode.c_str(),
                pads ? pads->Devices() : 0, form.isActiveWindow() ? "yes" : "no",
                (after.cpuMs - before.cpuMs) * perMinute, (after.wakeUps - before.wakeUps) * perMinute);
    return 0;
}
