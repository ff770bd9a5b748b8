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

#include <cerrno>
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

std::string GameDirOf(const TLaunchRequest& request)
{
    return platform::AbsolutePath(platform::JoinPath(request.emulatorDir, request.game));
}

// Takes back an extraction that does not go on to a run, also when an error ends the launch.
class TUndoUnlessKept {
public:
    explicit TUndoUnlessKept(const TExtraction& extraction) : extraction_(extraction) {}
    ~TUndoUnlessKept() { Undo(); }
    TUndoUnlessKept(const TUndoUnlessKept&) = delete;
    TUndoUnlessKept& operator=(const TUndoUnlessKept&) = delete;

    void Undo()
    {
        if (!done_)
            extraction_.Finish();
        done_ = true;
    }
    // The files stay; only the record goes.
    void KeepFiles()
    {
        if (!done_)
            platform::DeleteFile(extraction_.recordPath);
        done_ = true;
    }
    // The run tracker takes the clean-up over.
    void HandOver() { done_ = true; }

private:
    const TExtraction& extraction_;
    bool done_ = false;
};

struct TCaptionBack {
    TForm& form;
    ~TCaptionBack() { form.SetCaption(MainCaption); }
};

} // namespace

void TGameLauncher::Launch(const TLaunchRequest& request)
{
    TBusyCursor busy;
    const bool present = platform::CountDirectoryEntries(GameDirOf(request)) >= PresentEntryCount;
    std::optional<TExtraction> extraction;
    if (!present) {
        if (!request.zipDir) {
            Tell(QStringLiteral("Faltan ROMs!     "));
            return;
        }
        const std::string archive = platform::JoinPath(*request.zipDir, request.game + ".zip");
        if (!platform::FileExists(archive)) {
            Tell(Text(platform::JoinPath(*request.zipDir, request.game) + ".no está el ZIP"));
            return;
        }
        extraction = Extract(request, archive);
        if (!extraction)
            return;
    }
    StartEmulator(request, std::move(extraction));
}

std::optional<TExtraction> TGameLauncher::Extract(const TLaunchRequest& request, const std::string& archive)
{
    // The script runs in the emulator directory: relative paths would point elsewhere there.
    const std::string emulatorDir = platform::AbsolutePath(request.emulatorDir);
    const std::string gameDir = GameDirOf(request);
    const std::string lockFile = platform::JoinPath(emulatorDir, "lockfile.$$$");
    const std::string script = platform::JoinPath(emulatorDir, "lockfile.bat");
    TExtraction extraction{{request.game, gameDir, emulatorDir, Snapshot(gameDir), std::nullopt,
                            TProcessIdentity::Self(), {}},
                           NewCleanupRecordPath()};

    window_.SetCaption(ExtractingCaption);
    TCaptionBack captionBack{window_};
    try {
        SaveCleanupRecord(extraction.recordPath, extraction.record);
    } catch (const EInOutError&) {
        // Without the record a Kabinex that ends during the run would leave the files for good.
        throw Exception("nach " + extraction.recordPath + " kann nicht geschrieben werden");
    }
    TUndoUnlessKept undo(extraction);

    WriteOwnFile(lockFile, {});
    WriteOwnFile(script, ExtractionScript(request.unzipper, platform::AbsolutePath(archive), gameDir, lockFile));
    const std::unique_ptr<TChildProcess> unzip = ExecuteFile("lockfile.bat", {}, emulatorDir, TShowState::Hidden);
    const std::uint64_t total = UncompressedSize(archive).value_or(0);
    const TDirectoryState& before = extraction.record.before;
    TExtractionWait wait(&window_, [&] { return total > 0 ? double(AddedBytes(gameDir, before)) / double(total) : 0.0; });
    TWaitEnd end = TWaitEnd::ScriptEnded;
    if (unzip) {
        extraction.record.processes = {TProcessIdentity::Of(unzip->Pid())};
        SaveCleanupRecord(extraction.recordPath, extraction.record);
        end = wait.Run(*unzip);
    }
    // The script removes the lock file as its last act; one that ended (or never started) with
    // the lock file still there has failed.
    const bool lockLeft = platform::FileExists(lockFile);
    platform::DeleteFile(script);
    platform::DeleteFile(lockFile);
    window_.SetCaption(MainCaption);

    if (end == TWaitEnd::Cancelled) {
        undo.Undo();
        if (wait.CloseRequested())
            window_.close();
        return std::nullopt;
    }
    if (!unzip || lockLeft || UnzipFailed(unzip->ExitStatus())) {
        undo.Undo();
        Tell(QStringLiteral("No se pudo extraer %1 con %2.").arg(Text(archive), Text(request.unzipper)));
        return std::nullopt;
    }
    if (platform::CountDirectoryEntries(gameDir) < PresentEntryCount) {
        undo.KeepFiles(); // what the tool did extract stays, as with a short archive
        Tell(Text(archive + " corrompido " + request.unzipper + " no está!  "));
        return std::nullopt;
    }
    extraction.record.created = AddedEntries(extraction.record.before, Snapshot(gameDir));
    extraction.record.processes.clear();
    undo.HandOver();
    return extraction;
}

void TGameLauncher::StartEmulator(const TLaunchRequest& request, std::optional<TExtraction> extraction)
{
    int error = 0;
    std::unique_ptr<TChildProcess> emulator =
        ExecuteFile("mave", request.emulatorArguments, request.emulatorDir, TShowState::Normal, &error);
    if (!emulator) {
        if (extraction)
            runs_.StartFailed(std::move(*extraction));
        Tell(QStringLiteral("No se pudo iniciar el emulador %1: %2.")
                 .arg(Text(ExecutablePath("mave", request.emulatorDir)), StartFailureReason(error)));
        return;
    }
    runs_.Started(std::move(emulator), GameDirOf(request), std::move(extraction));
}
