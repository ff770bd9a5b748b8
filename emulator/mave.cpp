// mave, the stand-in emulator: it shows what it was started with, so a launch can be seen and
// checked without the real emulator.
//
// Without MAVE_STANDIN_RECORD it opens a small window listing its working directory and its
// arguments and ends on a key press or a mouse click (or when the window is closed).
//
// With MAVE_STANDIN_RECORD=<file> it shows no window and needs no display: it appends one line to
// <file> and ends with status 0 after MAVE_STANDIN_SECONDS seconds (default 0, fractions allowed).
// Two more variables let a test act as a game would during the run, before the wait:
// MAVE_STANDIN_APPEND=<path>[:<path>...] appends a line to each file (created when missing;
// relative paths from the working directory), as a save file or a changed ROM would be written;
// MAVE_STANDIN_UNTIL=<file> keeps it running until that file exists (after the seconds, if any).
// The line is the working directory followed by each argument, separated by tab characters and
// ended by a line feed; within each field a backslash is written as \\, a tab as \t, a line feed
// as \n and a carriage return as \r, so every field can be recovered exactly. The line is written
// with one append, so several stand-ins recording into the same file do not mix their lines.
//
// With the single argument -listfull it prints the games it knows, as the real emulator does: a
// header line, then per set its name, blanks and its description in double quotes.
#include "TabFields.h"

#include <QApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QMouseEvent>
#include <QVBoxLayout>
#include <QWidget>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <fcntl.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

std::string WorkingDirectory()
{
    std::string buffer(4096, '\0');
    while (getcwd(buffer.data(), buffer.size()) == nullptr) {
        if (errno != ERANGE)
            return "?";
        buffer.resize(buffer.size() * 2);
    }
    buffer.resize(buffer.find('\0'));
    return buffer;
}

bool AppendRecord(const char* file, const std::vector<std::string>& arguments)
{
    std::string line = EscapeField(WorkingDirectory());
    for (const std::string& argument : arguments)
        line += '\t' + EscapeField(argument);
    line += '\n';
    const int fd = open(file, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
    if (fd < 0)
        return false;
    const bool written = write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size());
    return close(fd) == 0 && written;
}

void SleepSeconds(const char* text)
{
    const double seconds = text ? std::strtod(text, nullptr) : 0.0;
    if (!(seconds > 0.0))
        return;
    timespec remaining{};
    remaining.tv_sec = static_cast<time_t>(seconds);
    remaining.tv_nsec = static_cast<long>((seconds - std::floor(seconds)) * 1e9);
    while (nanosleep(&remaining, &remaining) != 0 && errno == EINTR) {
    }
}

class StandInWindow : public QWidget {
public:
    explicit StandInWindow(const std::vector<std::string>& arguments)
    {
        setWindowTitle("mave");
        QString text = "MAVE (stand-in emulator)\n\nWorking directory:\n  "
            + QString::fromStdString(WorkingDirectory()) + "\n\nArguments:";
        if (arguments.empty())
            text += "\n  (none)";
        for (std::size_t i = 0; i < arguments.size(); ++i)
            text += QString("\n  %1: [%2]").arg(i + 1).arg(QString::fromStdString(arguments[i]));
        text += "\n\nPress a key or click to end.";
        auto* label = new QLabel(text);
        label->setTextInteractionFlags(Qt::NoTextInteraction);
        label->setTextFormat(Qt::PlainText);
        auto* layout = new QVBoxLayout(this);
        layout->addWidget(label);
    }

protected:
    void keyPressEvent(QKeyEvent*) override { close(); }
    void mousePressEvent(QMouseEvent*) override { close(); }
};

bool AppendSaves(const char* paths)
{
    std::string list = paths ? paths : "";
    bool written = true;
    for (std::size_t start = 0; start < list.size();) {
        std::size_t end = list.find(':', start);
        if (end == std::string::npos)
            end = list.size();
        const std::string path = list.substr(start, end - start);
        start = end + 1;
        if (path.empty())
            continue;
        const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0644);
        const std::string line = "saved by mave\n";
        written = fd >= 0 && write(fd, line.data(), line.size()) == static_cast<ssize_t>(line.size()) && written;
        if (fd >= 0)
            close(fd);
    }
    return written;
}

// The demo's games, and two sets a collection may hold beyond them.
constexpr std::pair<const char*, const char*> KnownGames[] = {
    {"astrofox", "Astro Fox (1982)"},
    {"canyon", "Canyon Racer (1988)"},
    {"castillo", "Castillo Encantado (1986)"},
    {"cometa", "Cometa Azul (1980)"},
    {"corsario", "El Corsario Pirata (1985)"},
    {"dragonet", "Dragonet (1987)"},
    {"galaxia", "Galaxia Invasora (1979)"},
    {"ninja", "Ninja Kid (1984)"},
    {"pinguino", "Pingüino Saltarín (1983)"},
    {"pulsar", "Pulsar Patrol (1981)"},
    {"relampago", "Relámpago (1991)"},
    {"sombra", "La Sombra del Dragón (1989)"},
    {"tortuga", "Tortuga Turbo (1983)"},
    {"volcan", "Volcán (1990)"},
};

void PrintGameList()
{
    std::printf("Name:     Description:\n");
    for (const auto& [name, description] : KnownGames)
        std::printf("%-10s\"%s\"\n", name, description);
}

void WaitForFile(const char* file)
{
    if (file == nullptr || *file == '\0')
        return;
    const timespec step{0, 20 * 1000 * 1000};
    while (access(file, F_OK) != 0)
        nanosleep(&step, nullptr);
}

} // namespace

int main(int argc, char** argv)
{
    const std::vector<std::string> arguments(argv + 1, argv + argc);
    if (arguments == std::vector<std::string>{"-listfull"}) {
        PrintGameList();
        return std::fflush(stdout) == 0 ? 0 : 1;
    }
    if (const char* record = std::getenv("MAVE_STANDIN_RECORD")) {
        if (!AppendRecord(record, arguments)) {
            std::perror(record);
            return 1;
        }
        if (!AppendSaves(std::getenv("MAVE_STANDIN_APPEND"))) {
            std::perror("MAVE_STANDIN_APPEND");
            return 1;
        }
        SleepSeconds(std::getenv("MAVE_STANDIN_SECONDS"));
        WaitForFile(std::getenv("MAVE_STANDIN_UNTIL"));
        return 0;
    }
    QApplication app(argc, argv);
    StandInWindow window(arguments);
    window.show();
    return app.exec();
}
