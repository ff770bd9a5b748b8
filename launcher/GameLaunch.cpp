#include "GameLaunch.h"

#include "Dialogs.h"
#include "Extraction.h"
#include "ExtractionWait.h"
#include "FileSystem.h"
#include "Forms.h"
#include "Screen.h"
#include "SysUtils.h"
#include "Unit1.h"
#include "ZipDirectory.h"

#include <QApplication>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

const QString MainCaption = QStringLiteral("Kabinex");
const QString ExtractingCaption = QStringLiteral("Kabinex-extrayendo  ROMs");

// Puts the default cursor back however a launch ends.
struct TBusyCursor {
    TBusyCursor() { Screen::SetCursor(TCursor::HourGlass); }
    ~TBusyCursor() { Screen::SetCursor(TCursor::Default); }
    TBusyCursor(const TBusyCursor&) = delete;
    TBusyCursor& operator=(const TBusyCursor&) = delete;
};

// A message of the launch: never shown under the busy cursor.
void Tell(const QString& text)
{
    Screen::SetCursor(TCursor::Default);
    Dialogs().ShowMessage(text);
}

QString Text(const std::string& text)
{
    return QString::fromStdString(text);
}

// Why a program could not be started, in the user's words.
QString StartFailureReason(int error)
{
    switch (error) {
    case ENOENT: return QStringLiteral("no existe");
    case EACCES: return QStringLiteral("no es ejecutable");
    case ENOEXEC: return QStringLiteral("no es un programa");
    default: return QString::fromLocal8Bit(std::strerror(error));
    }
}

std::string WriteFailure(const std::string& path)
{
    return "nach " + path + " kann nicht geschrieben werden";
}

// The lock file and the script, with the file named when it cannot be written.
void WriteLaunchFile(const std::string& path, const std::vector<std::string>& lines)
{
    try {
        WriteOwnFile(path, lines);
    } catch (const EInOutError&) {
        throw Exception(WriteFailure(path));
    }
}

// Takes back an extraction that does not go on to a run, also when an error ends the launch.
class TUndoUnlessKept {
public:
    explicit TUndoUnlessKept(const TRecordedLaunch& extraction) : extraction_(extraction) {}
    ~TUndoUnlessKept() { Undo(); }
    TUndoUnlessKept(const TUndoUnlessKept&) = delete;
    TUndoUnlessKept& operator=(const TUndoUnlessKept&) = delete;

    void Undo()
    {
        if (!done_)
            extraction_.Finish();
        done_ = true;
    }
    // The files stay; only the private directory and the record go.
    void KeepFiles()
    {
        if (!done_) {
            RemoveStaging(extraction_.record.emulatorDir, extraction_.record.staging);
            platform::DeleteFile(extraction_.recordPath);
        }
        done_ = true;
    }
    // The run tracker takes the clean-up over.
    void HandOver() { done_ = true; }

private:
    const TRecordedLaunch& extraction_;
    bool done_ = false;
};

struct TCaptionBack {
    TForm& form;
    ~TCaptionBack() { form.SetCaption(MainCaption); }
};

// Holds back the closing of the main window while an extraction is under way, so that the program
// never ends between its steps; a close seen meanwhile cancels the launch, and the window closes
// once everything is taken back.
class TCloseGuard : public QObject {
public:
    explicit TCloseGuard(QWidget& window) : window_(window) { qApp->installEventFilter(this); }
    ~TCloseGuard() override
    {
        qApp->removeEventFilter(this);
        if (requested_)
            window_.close();
    }

    bool Requested() const { return requested_; }
    void Request() { requested_ = true; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override
    {
        if (event->type() != QEvent::Close || watched != &window_)
            return false;
        event->ignore();
        requested_ = true;
        return true;
    }

private:
    QWidget& window_;
    bool requested_ = false;
};

} // namespace

void TGameLauncher::Launch(const TLaunchRequest& request)
{
    TBusyCursor busy;
    const std::string emulatorDir = platform::AbsolutePath(request.emulatorDir);
    TRecordedLaunch launch{{request.game, emulatorDir, platform::TSubdirectories(emulatorDir).EntryName(request.game), {},
                        std::nullopt, TDirectoryState{}, TProcessIdentity::Self(), {}, {}},
                       {}};
    const std::string gameDir = launch.record.GameDir();
    if (ExtractionUnderWayElsewhere(gameDir)) {
        Tell(QStringLiteral("Otro Kabinex está extrayendo %1; espere a que termine.").arg(Text(request.game)));
        return;
    }
    const bool present = platform::CountDirectoryEntries(gameDir) >= PresentEntryCount;
    if (!present) {
        if (!request.zipDir) {
            Tell(QStringLiteral("Faltan ROMs!     "));
            return;
        }
        const std::string archive = platform::FindEntry(*request.zipDir, request.game + ".zip");
        if (!platform::FileExists(archive)) {
            Tell(Text(platform::JoinPath(*request.zipDir, request.game) + ".no está el ZIP"));
            return;
        }
        if (!Extract(request, archive, launch))
            return;
    }
    StartEmulator(request, std::move(launch));
}

bool TGameLauncher::Extract(const TLaunchRequest& request, const std::string& archive, TRecordedLaunch& extraction)
{
    TCloseGuard closeGuard(window_); // first made, last undone: the files go before the window
    TCleanupRecord& record = extraction.record;
    // The script runs in the emulator directory: relative paths would point elsewhere there.
    const std::string& emulatorDir = record.emulatorDir;
    const std::string lockFile = platform::JoinPath(emulatorDir, "lockfile.$$$");
    const std::string script = platform::JoinPath(emulatorDir, "lockfile.bat");
    record.staging = NewStagingName(request.game);
    record.created.reset();
    extraction.recordPath = NewCleanupRecordPath();
    const std::string staging = platform::JoinPath(emulatorDir, record.staging);

    window_.SetCaption(ExtractingCaption);
    TCaptionBack captionBack{window_};
    // Without the record a Kabinex that ends during the run would leave the files for good.
    SaveCleanupRecord(extraction.recordPath, record);
    TUndoUnlessKept undo(extraction);
    if (!MakeStagingDirectory(emulatorDir, record.staging))
        throw Exception(WriteFailure(staging));

    WriteLaunchFile(lockFile, {});
    WriteLaunchFile(script, ExtractionScript(request.unzipper, platform::AbsolutePath(archive), staging, lockFile));
    const std::unique_ptr<TChildProcess> unzip = ExecuteFile("lockfile.bat", {}, emulatorDir, TShowState::Hidden);
    const std::uint64_t total = UncompressedSize(archive).value_or(0);
    TExtractionWait wait(&window_, [&] { return total > 0 ? double(TreeBytes(staging)) / double(total) : 0.0; });
    TWaitEnd end = TWaitEnd::ScriptEnded;
    if (unzip) {
        record.processes = {TProcessIdentity::Of(unzip->Pid())};
        try {
            SaveCleanupRecord(extraction.recordPath, record);
        } catch (const Exception&) {
            KillGroup(record.processes.front());
            wait.Run(*unzip);
            throw;
        }
        end = wait.Run(*unzip);
    }
    // The script removes the lock file as its last act; one that ended (or never started) with
    // the lock file still there has failed.
    const bool lockLeft = platform::FileExists(lockFile);
    platform::DeleteFile(script);
    platform::DeleteFile(lockFile);
    window_.SetCaption(MainCaption);

    if (wait.CloseRequested())
        closeGuard.Request();
    if (end == TWaitEnd::Cancelled || closeGuard.Requested()) {
        undo.Undo();
        return false;
    }
    if (!unzip || lockLeft || UnzipFailed(unzip->ExitStatus())) {
        undo.Undo();
        Tell(QStringLiteral("No se pudo extraer %1 con %2.").arg(Text(archive), Text(request.unzipper)));
        return false;
    }
    BringIn(extraction);
    const std::string gameDir = record.GameDir();
    if (platform::CountDirectoryEntries(gameDir) < PresentEntryCount) {
        undo.KeepFiles(); // what the tool did extract stays, as with a short archive
        Tell(Text(archive + " corrompido " + request.unzipper + " no está!  "));
        return false;
    }
    undo.HandOver();
    return true;
}

void TGameLauncher::BringIn(TRecordedLaunch& extraction)
{
    TCleanupRecord& record = extraction.record;
    try {
        record.madeGameDir = EnsureGameDirectory(record.emulatorDir, record.gameDirName);
    } catch (const EInOutError&) {
        throw Exception(WriteFailure(record.GameDir()));
    }
    // Each entry is on record before it can appear in the game's directory.
    record.created = EntriesToMoveIn(record.emulatorDir, record.staging, record.gameDirName);
    record.processes.clear();
    SaveCleanupRecord(extraction.recordPath, record);
    MoveIn(record.emulatorDir, record.staging, record.gameDirName, *record.created);
    // With the status change times a rewrite in place that keeps size and time is seen too.
    record.created = MovedStates(record.emulatorDir, record.gameDirName, *record.created);
    SaveCleanupRecord(extraction.recordPath, record);
    RemoveStaging(record.emulatorDir, record.staging); // what stayed there: names the directory had
}

void TGameLauncher::StartEmulator(const TLaunchRequest& request, TRecordedLaunch launch)
{
    if (launch.recordPath.empty())
        launch.recordPath = NewCleanupRecordPath();
    // Recorded before the start, so that a Kabinex ending before the emulator is recorded leaves
    // the means to find it: the emulator and all it starts carry the mark in their environment.
    launch.record.launchMark = LaunchMark(launch.recordPath);
    try {
        SaveCleanupRecord(launch.recordPath, launch.record);
    } catch (const Exception& failure) {
        launch.Finish();
        Tell(Text(failure.what()));
        return;
    }
    const std::string program = platform::MatchEntryName(request.emulatorDir, "mave");
    int error = 0;
    std::unique_ptr<TChildProcess> emulator = ExecuteFile(program, request.emulatorArguments, request.emulatorDir,
                                                          TShowState::Normal, &error, {launch.record.launchMark});
    if (!emulator) {
        runs_.StartFailed(std::move(launch));
        Tell(QStringLiteral("No se pudo iniciar el emulador %1: %2.")
                 .arg(Text(ExecutablePath(program, request.emulatorDir)), StartFailureReason(error)));
        return;
    }
    launch.record.processes = {TProcessIdentity::Of(emulator->Pid())};
    try {
        SaveCleanupRecord(launch.recordPath, launch.record);
    } catch (const Exception& failure) {
        // Unrecorded, the game could lose its files under it to another Kabinex or to a later
        // start: it ends at once (it leads a session and group of its own), and its files go.
        ::kill(-emulator->Pid(), SIGKILL);
        launch.Finish();
        Tell(Text(failure.what()));
        return;
    }
    runs_.Started(std::move(emulator), std::move(launch));
}
