// The program block: the application, its windows in their order, the event loop.
#include "AddGames.h"
#include "Application.h"
#include "Artwork.h"
#include "FmProgr.h"
#include "GifUnit.h"
#include "PadInput.h"
#include "Screen.h"
#include "TerminationSignals.h"
#include "Unit1.h"
#include "Unit2.h"
#include "Unit4.h"

#include <QApplication>
#include <QLineEdit>
#include <QPushButton>
#include <csignal>
#include <iostream>
#include <memory>
#include <string_view>

int main(int argc, char** argv)
{
    // KABINEX_VERSION is the project's version, passed by the build.
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::cout << "Kabinex " KABINEX_VERSION "\n";
        return std::cout.flush() ? 0 : 1;
    }
    if (const auto status = addgames::RunCommandLine(argc, argv, std::cout, std::cerr))
        return *status; // --add-games, --help: no window
    // A file-size limit reached while writing the settings fails that write (the file stays as it
    // was, the user is told) instead of killing the program.
    std::signal(SIGXFSZ, SIG_IGN);
    QApplication app(argc, argv);
    InitializeToolkit();
    SetApplicationTitle(QStringLiteral("Kabinex"));
    QApplication::setWindowIcon(ApplicationIcon());
    // The window stays live while a big screenshot decodes.
    SetGifMessageHook(ProcessMessagesNowAndThen);
    SetGifBusyCursorHook([](bool busy) { Screen::SetCursor(busy ? TCursor::HourGlass : TCursor::Default); });

    // The progress window exists before the main window, hidden, reachable through ProgressHook.
    CreateProgressForm();
    auto form1 = std::make_unique<TForm1>();
    TForm1* mainWindow = form1.get();
    auto aboutBox = std::make_unique<TAboutBox>();
    auto form2 = std::make_unique<TForm2>([mainWindow] { return ToStd(mainWindow->MaveDir->text()); },
                                          [mainWindow] { return mainWindow->ProgramDir(); });
    form1->SetAuxiliaryWindows(aboutBox.get(), form2.get());
    // Clean-ups that an earlier Kabinex recorded and could not finish.
    form1->Runs().ResumeRecorded();
    QObject::connect(form1.get(), &QDialog::finished, &app, &QCoreApplication::quit);
    form1->show();
    TPadInput pads({mainWindow, mainWindow->ButtonHelp, ProgressForm,
                    [mainWindow] { return mainWindow->Runs().AnyRunning(); }});
    // Log-out, shutdown and the like close the window as Escape does.
    TTerminationSignals termination([mainWindow] { mainWindow->ButtonQuitClick(); },
                                    [mainWindow] { mainWindow->FormDestroy(); });
    const int result = QApplication::exec();
    termination.Disarm();
    form1.reset(); // writes the settings back
    return result;
}
