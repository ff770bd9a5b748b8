#include "GameLaunch.h"

#include "Extraction.h"
#include "ExtractionWait.h"
#include "FileSystem.h"
#include "Guard.h"
#include "Locks.h"
#include "RomCheck.h"
#include "SysUtils.h"
#include "ZipDirectory.h"

#include <QApplication>
#include <QWidget>
#include <cerrno>
#include <csignal>
#include <cstring>

namespace {

TLaunchOutcome Refused(std::string message)
{
    return {TLaunchEnd::Refused, std::move(message)};
}

TLaunchOutcome Refused(const QString& message)
{
    return Refused(message.toStdString());
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

// Why launches cannot be recorded, and what that means for the user.
QString UnrecordableReason()
{
    return QStringLiteral("Kabinex no puede registrar los lanzamientos porque no puede escribir en %1. Sin ese "
                          "registro, los archivos extraídos de un ZIP quedarían en el disco si Kabinex terminara "
                          "antes que el juego.")
        .arg(Text(CleanupRecordDir()));
}

QString UnrecordedNotice()
{
    return UnrecordableReason()
        + QStringLiteral(" Los juegos ya descomprimidos se inician; los que están en un ZIP, no.");
}

// The lock file and the script, with the file named when it cannot be written.
void WriteLaunchFile(const std::string& path, const std::vector<std::string>& lines)
{
    try {
        platform::WriteOwnFile(path, lines);
    } catch (const EInOutError&) {
        throw platform::WriteRefused(path);
    }
}

// The lock file and the script of a launch, removed however the launch ends.
struct TLaunchFiles {
    explicit TLaunchFiles(const std::string& emulatorDir)
        : lockFile(platform::JoinPath(emulatorDir, "lockfile.$$$")), script(platform::JoinPath(emulatorDir, "lockfile.bat"))
    {
    }
    ~TLaunchFiles()
    {
        platform::DeleteFile(script);
        platform::DeleteFile(lockFile);
    }
    TLaunchFiles(const TLaunchFiles&) = delete;
    TLaunchFiles& operator=(const TLaunchFiles&) = delete;

    const std::string lockFile;
    const std::string script;
};

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

// Tells the window the extraction is over however it ends.
struct TExtractingShown {
    explicit TExtractingShown(const std::function<void(bool)>& show) : show_(show) { show_(true); }
    ~TExtractingShown() { show_(false); }
    TExtractingShown(const TExtractingShown&) = delete;
    TExtractingShown& operator=(const TExtractingShown&) = delete;

private:
    const std::function<void(bool)>& show_;
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

// Where the game's directory does not stand yet, the whole private content becomes it in one
// rename: on record first, as every entry stands (the rename leaves them so). False when it cannot
// be taken that way; the entries are then moved one by one.
bool BroughtInWhole(TRecordedLaunch& extraction, const TStagedContent& content)
{
    TCleanupRecord& record = extraction.record;
    std::optional<TWholeContent> whole = PrepareWholeMove(content, record.emulatorDir, record.gameDirName);
    if (!whole)
        return false;
    record.madeGameDir = whole->dir;
    record.created = std::move(whole->entries);
    record.processes.clear();
    SaveCleanupRecord(extraction.recordPath, record);
    if (!MoveWhole(content, record.emulatorDir, record.staging, record.gameDirName))
        return false; // the entries are still private; one by one they are recorded anew
    RemoveStaging(record.emulatorDir, record.staging); // what held the one folder
    return true;
}

} // namespace

TLaunchNotice NoticeFor(const TLaunchOutcome& outcome)
{
    switch (outcome.end) {
    case TLaunchEnd::Refused: return {TNoticeBox::Message, Text(outcome.message)};
    case TLaunchEnd::Failed: return {TNoticeBox::Error, ErrorBoxText(outcome.message.c_str())};
    case TLaunchEnd::Started:
        if (!outcome.message.empty())
            return {TNoticeBox::Message, Text(outcome.message)};
        break;
    case TLaunchEnd::Cancelled: break;
    }
    return {TNoticeBox::None, {}};
}

struct TGameLauncher::TScriptRun {
    TWaitEnd end;
    bool closeRequested;
    bool succeeded;
    int status; // the script's exit status, the unzip tool's
};

TLaunchOutcome TGameLauncher::Launch(const TLaunchRequest& request)
{
    try {
        return LaunchOrThrow(request);
    } catch (const std::exception& error) {
        return {TLaunchEnd::Failed, error.what()};
    }
}

TLaunchOutcome TGameLauncher::LaunchOrThrow(const TLaunchRequest& request)
{
    const std::string emulatorDir = platform::AbsolutePath(request.emulatorDir);
    TRecordedLaunch launch{{request.game, emulatorDir, platform::TSubdirectories(emulatorDir).EntryName(request.game), {},
                            std::nullopt, TDirectoryState{}, TProcessIdentity::Self(), {}, {}},
                           {}};
    const std::string gameDir = launch.record.GameDir();
    if (ExtractionUnderWayElsewhere(gameDir))
        return Refused(QStringLiteral("Otro Kabinex está extrayendo %1; espere a que termine.").arg(Text(request.game)));
    const bool present = platform::CountDirectoryEntries(gameDir) >= PresentEntryCount;
    if (!present) {
        if (!request.zipDir)
            return Refused(std::string("Faltan ROMs!     "));
        const std::string archive = platform::FindEntry(*request.zipDir, request.game + ".zip");
        if (!platform::FileExists(archive))
            return Refused(platform::JoinPath(*request.zipDir, request.game) + ".no está el ZIP");
        if (std::optional<TLaunchOutcome> ended = Extract(request, archive, launch))
            return *ended;
    }
    return StartEmulator(request, std::move(launch));
}

std::optional<TLaunchOutcome> TGameLauncher::Extract(const TLaunchRequest& request, const std::string& archive,
                                                     TRecordedLaunch& extraction)
{
    TCloseGuard closeGuard(window_); // first made, last undone: the files go before the window
    TCleanupRecord& record = extraction.record;
    record.staging = NewStagingName(request.game);
    record.created.reset();
    extraction.recordPath = NewCleanupRecordPath();

    TExtractingShown extracting(showExtracting_);
    // Without the record a Kabinex that ends during the run would leave the files for good.
    try {
        SaveCleanupRecord(extraction.recordPath, record);
    } catch (const Exception&) {
        return Refused(QStringLiteral("No se puede extraer %1: %2").arg(Text(request.game), UnrecordableReason()));
    }
    TUndoUnlessKept undo(extraction);
    // The private directory is Kabinex's own: what the user can mend is the emulator directory.
    if (!MakeStagingDirectory(record.emulatorDir, record.staging))
        throw platform::WriteRefused(record.emulatorDir);
    const TScriptRun run = RunScript(request, archive, extraction);

    if (run.closeRequested)
        closeGuard.Request();
    if (run.end == TWaitEnd::Cancelled || closeGuard.Requested()) {
        undo.Undo();
        return TLaunchOutcome{TLaunchEnd::Cancelled, {}};
    }
    if (!run.succeeded) {
        undo.Undo();
        if (UnzipWantedPassword(run.status, HoldsEncryptedEntries(archive)))
            return Refused(QStringLiteral("No se pudo extraer %1: necesita una contraseña.").arg(Text(archive)));
        return Refused(QStringLiteral("No se pudo extraer %1 con %2.").arg(Text(archive), Text(request.unzipper)));
    }
    if (!BringIn(extraction)) {
        undo.Undo();
        return Refused(QStringLiteral("%1 no contiene los archivos de %2: solo carpetas.")
                           .arg(Text(archive), Text(request.game)));
    }
    if (platform::CountDirectoryEntries(record.GameDir()) < PresentEntryCount) {
        undo.KeepFiles(); // what the tool did extract stays, as with a short archive
        return Refused(archive + " corrompido " + request.unzipper + " no está!  ");
    }
    undo.HandOver();
    return std::nullopt;
}

TGameLauncher::TScriptRun TGameLauncher::RunScript(const TLaunchRequest& request, const std::string& archive,
                                                   TRecordedLaunch& extraction)
{
    TCleanupRecord& record = extraction.record;
    // The script runs in the emulator directory: relative paths would point elsewhere there.
    const std::string& emulatorDir = record.emulatorDir;
    const std::string staging = platform::JoinPath(emulatorDir, record.staging);
    std::optional<TExtractionShare> share;
    TExtractionWait wait(&window_, [&] { return share ? share->Fraction() : 0.0; });
    // Every Kabinex of the machine uses the two files in turn: the lock on the emulator directory
    // is held from their writing until the script has ended and both are gone. The script holds
    // it too, so a Kabinex that ends meanwhile leaves it to the script.
    platform::TDirectoryLock turn;
    const TWaitEnd waited = wait.RunUntil([&] {
        turn = platform::TDirectoryLock::Take(emulatorDir, platform::TLockKind::Exclusive);
        return turn.State() != platform::TDirectoryLock::TState::Refused;
    });
    if (waited == TWaitEnd::Cancelled)
        return {TWaitEnd::Cancelled, wait.CloseRequested(), false, -1};
    const TLaunchFiles files(emulatorDir);
    WriteLaunchFile(files.lockFile, {});
    WriteLaunchFile(files.script, ExtractionScript(request.unzipper, platform::AbsolutePath(archive), staging, files.lockFile));
    std::vector<int> inherited;
    if (turn.Held())
        inherited.push_back(turn.Descriptor());
    const std::unique_ptr<TChildProcess> unzip =
        ExecuteFile("lockfile.bat", {}, emulatorDir, TShowState::Hidden, nullptr, {}, inherited);
    TWaitEnd end = TWaitEnd::ScriptEnded;
    if (unzip) {
        share.emplace(unzip->Pid(), archive, staging);
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
    showExtracting_(false);
    // Judged by this script's own exit status, which its last line passes on: the lock file says
    // nothing once another Kabinex may use the name.
    return {end, wait.CloseRequested(), unzip && !UnzipFailed(unzip->ExitStatus()),
            unzip ? unzip->ExitStatus() : -1};
}

bool TGameLauncher::BringIn(TRecordedLaunch& extraction)
{
    TCleanupRecord& record = extraction.record;
    const TStagedContent content = OpenStagedContent(record.emulatorDir, record.staging);
    if (HoldsNoGameFiles(content))
        return false;
    if (BroughtInWhole(extraction, content))
        return true;
    try {
        record.madeGameDir = EnsureGameDirectory(record.emulatorDir, record.gameDirName);
    } catch (const EInOutError&) {
        throw platform::WriteRefused(record.GameDir());
    }
    // Each entry is on record before it can appear in the game's directory.
    record.created = EntriesToMoveIn(content.dir, record.emulatorDir, record.gameDirName);
    record.processes.clear();
    SaveCleanupRecord(extraction.recordPath, record);
    const TMovedIn movedIn = MoveIn(content.dir, record.emulatorDir, record.gameDirName, *record.created);
    // As they stand after the move: a move may change a file's times, and with the status change
    // times a rewrite in place that keeps size and time is seen too.
    record.created = movedIn.moved;
    SaveCleanupRecord(extraction.recordPath, record);
    RemoveStaging(record.emulatorDir, record.staging); // what stayed there: names the directory had
    if (movedIn.error != 0)
        throw platform::WriteRefused(record.GameDir()); // what was moved goes back with the launch
    return true;
}

TLaunchOutcome TGameLauncher::StartEmulator(const TLaunchRequest& request, TRecordedLaunch launch)
{
    const bool extracted = !launch.recordPath.empty();
    if (!extracted)
        launch.recordPath = NewCleanupRecordPath();
    // Recorded before the start, so that a Kabinex ending before the emulator is recorded leaves
    // the means to find it: the emulator and all it starts carry the mark in their environment.
    launch.record.launchMark = LaunchMark(launch.recordPath);
    bool recorded = SaveRecord(launch, extracted);
    if (extracted && !recorded) {
        launch.Finish();
        return Refused(std::string(platform::WriteRefused(launch.recordPath).what()));
    }
    // Every process of the game holds the directory shared while it runs, recorded or not: a
    // clean-up of any Kabinex takes it exclusively first, and holds back while it cannot.
    platform::TDirectoryLock inUse =
        platform::TDirectoryLock::Take(launch.record.GameDir(), platform::TLockKind::Shared, true);
    std::vector<int> inherited;
    if (inUse.Held())
        inherited.push_back(inUse.Descriptor());
    const std::string program = platform::MatchEntryName(request.emulatorDir, "mave");
    int error = 0;
    std::unique_ptr<TChildProcess> emulator = ExecuteFile(program, request.emulatorArguments, request.emulatorDir,
                                                          TShowState::Normal, &error, {launch.record.launchMark}, inherited);
    inUse = platform::TDirectoryLock(); // the game's own now: this Kabinex's clean-ups ask for it too
    if (!emulator) {
        runs_.StartFailed(std::move(launch));
        return Refused(QStringLiteral("No se pudo iniciar el emulador %1: %2.")
                           .arg(Text(ExecutablePath(program, request.emulatorDir)), StartFailureReason(error)));
    }
    launch.record.processes = {TProcessIdentity::Of(emulator->Pid())};
    if (recorded && !SaveRecord(launch, extracted)) {
        if (extracted) {
            // Unrecorded, the game could lose its files under it to another Kabinex or to a later
            // start: it ends at once (it leads a session and group of its own), and its files go.
            ::kill(-emulator->Pid(), SIGKILL);
            launch.Finish();
            return Refused(std::string(platform::WriteRefused(launch.recordPath).what()));
        }
        recorded = false;
    }
    runs_.Started(std::move(emulator), std::move(launch));
    if (!recorded && !toldUnrecorded_) {
        toldUnrecorded_ = true;
        return {TLaunchEnd::Started, UnrecordedNotice().toStdString()};
    }
    return {TLaunchEnd::Started, {}};
}

bool TGameLauncher::SaveRecord(const TRecordedLaunch& launch, bool extracted)
{
    try {
        SaveCleanupRecord(launch.recordPath, launch.record);
        return true;
    } catch (const Exception&) {
        // A game that brings nothing in plays without its record; one that half stands goes.
        if (!extracted)
            platform::DeleteFile(launch.recordPath);
        return false;
    }
}
