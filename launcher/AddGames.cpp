#include "AddGames.h"

#include "FileSystem.h"
#include "IniFiles.h"
#include "RomCheck.h"
#include "Settings.h"
#include "Text.h"

#include <QCoreApplication>
#include <QProcess>
#include <QString>
#include <algorithm>
#include <cstdio>
#include <ostream>
#include <unistd.h>
#include <unordered_map>
#include <unordered_set>

namespace addgames {

namespace {

constexpr int ListTimeoutMs = 60'000;
// Scans shorter than this finish before a progress window would be seen.
constexpr std::size_t LongScan = 2000;

bool IsControl(char32_t cp)
{
    return cp < 0x20 || (cp >= 0x7F && cp < 0xA0);
}

bool EndsWithZip(std::string_view name)
{
    return platform::AsciiLowerCase(name).ends_with(".zip");
}

bool IsBlank(char c)
{
    return c == ' ' || c == '\t';
}

std::string_view Trimmed(std::string_view text)
{
    while (!text.empty() && (IsBlank(text.front()) || text.front() == '\r'))
        text.remove_prefix(1);
    while (!text.empty() && (IsBlank(text.back()) || text.back() == '\r'))
        text.remove_suffix(1);
    return text;
}

// Counts work done and tells progress at each further hundredth of a long scan.
class TProgressSteps {
public:
    TProgressSteps(const TProgress& progress, std::size_t total)
        : progress_(total >= LongScan ? progress : TProgress{}), total_(total) {}
    void Step()
    {
        ++done_;
        if (progress_ && done_ * 100 / total_ != (done_ - 1) * 100 / total_)
            progress_(float(double(done_) / double(total_)));
    }

private:
    TProgress progress_;
    std::size_t total_;
    std::size_t done_ = 0;
};

// Bytes that are not text or not printable shown as \xNN, so a report can be printed.
std::string Printable(std::string_view name)
{
    const bool utf8 = platform::IsValidUtf8(name);
    std::string out;
    for (char c : name) {
        const unsigned char byte = static_cast<unsigned char>(c);
        if (byte < 0x20 || byte == 0x7F || (!utf8 && byte >= 0x80)) {
            char escaped[5];
            std::snprintf(escaped, sizeof escaped, "\\x%02X", byte);
            out += escaped;
        } else {
            out += c;
        }
    }
    return out;
}

// Collects the games found, each once, ignoring those the catalogue holds.
class TFoundGames {
public:
    TFoundGames(const TIniFile& settings, const std::optional<std::vector<TGameEntry>>& gameList)
        // A text a Windows-1252 file cannot hold would turn the whole file into UTF-8, so such
        // texts are kept out of it.
        : windows1252_(settings.IsWindows1252())
    {
        for (const std::string& key : settings.ReadSection("games"))
            known_.insert(platform::AsciiLowerCase(key));
        if (gameList)
            for (const TGameEntry& entry : *gameList)
                descriptions_.emplace(platform::FoldedName(entry.name), &entry);
    }

    // The list's entry for a name in any letter case; nullptr when it holds none.
    const TGameEntry* Listed(std::string_view name) const
    {
        const auto found = descriptions_.find(platform::FoldedName(name));
        return found == descriptions_.end() ? nullptr : found->second;
    }

    void Add(const std::string& name)
    {
        if (!UsableAsKey(name) || (windows1252_ && !platform::FitsWindows1252(name))) {
            result_.skipped.push_back(name);
            return;
        }
        if (!known_.insert(platform::AsciiLowerCase(name)).second)
            return;
        const TGameEntry* listed = Listed(name);
        const bool usable = listed && UsableDescription(listed->description);
        result_.added.push_back({name, usable ? listed->description : name});
    }

    TAddResult Sorted() &&
    {
        std::vector<std::pair<QString, std::size_t>> order;
        order.reserve(result_.added.size());
        for (std::size_t i = 0; i < result_.added.size(); ++i)
            order.emplace_back(QString::fromStdString(result_.added[i].description), i);
        std::sort(order.begin(), order.end(), [&](const auto& a, const auto& b) {
            const int byDescription = a.first.compare(b.first, Qt::CaseInsensitive);
            return byDescription != 0 ? byDescription < 0 : result_.added[a.second].name < result_.added[b.second].name;
        });
        TAddResult sorted;
        sorted.skipped = std::move(result_.skipped);
        for (const auto& [description, index] : order)
            sorted.added.push_back(std::move(result_.added[index]));
        return sorted;
    }

private:
    bool UsableDescription(const std::string& description) const
    {
        const auto points = platform::CodePoints(description);
        return points && !points->empty() && std::none_of(points->begin(), points->end(), IsControl)
            && (!windows1252_ || platform::FitsWindows1252(description));
    }

    bool windows1252_;
    std::unordered_set<std::string> known_; // by key ignoring ASCII case, as the settings file matches keys
    std::unordered_map<std::string, const TGameEntry*> descriptions_;
    TAddResult result_;
};

} // namespace

std::vector<TGameEntry> ParseGameList(std::string_view text)
{
    std::vector<TGameEntry> games;
    bool header = true;
    while (!text.empty()) {
        const std::size_t end = std::min(text.find('\n'), text.size());
        const std::string_view line = Trimmed(text.substr(0, end));
        text.remove_prefix(std::min(end + 1, text.size()));
        if (std::exchange(header, false) || line.empty())
            continue;
        std::size_t blank = 0;
        while (blank < line.size() && !IsBlank(line[blank]))
            ++blank;
        std::string_view description = Trimmed(line.substr(blank));
        if (description.size() >= 2 && description.front() == '"' && description.back() == '"')
            description = description.substr(1, description.size() - 2);
        games.push_back({std::string(line.substr(0, blank)), std::string(description)});
    }
    return games;
}

std::optional<std::vector<TGameEntry>> ReadEmulatorList(const std::string& emulatorDir)
{
    const std::string program = platform::FindEntry(emulatorDir, "mave");
    if (emulatorDir.empty() || !platform::FileExists(program))
        return std::nullopt;
    QProcess emulator;
    emulator.setWorkingDirectory(QString::fromStdString(emulatorDir));
    emulator.setStandardInputFile(QProcess::nullDevice());
    emulator.setStandardErrorFile(QProcess::nullDevice());
    emulator.start(QString::fromStdString(platform::AbsolutePath(program)), {QStringLiteral("-listfull")});
    if (!emulator.waitForFinished(ListTimeoutMs)) {
        emulator.kill();
        emulator.waitForFinished();
        return std::nullopt;
    }
    if (emulator.exitStatus() != QProcess::NormalExit || emulator.exitCode() != 0)
        return std::nullopt;
    const QByteArray output = emulator.readAllStandardOutput();
    return ParseGameList(std::string_view(output.constData(), std::size_t(output.size())));
}

bool UsableAsKey(std::string_view name)
{
    if (name.empty() || !TIniFile::StorableKey(name))
        return false;
    const auto points = platform::CodePoints(name);
    return std::none_of(points->begin(), points->end(), IsControl);
}

TAddResult FindNewGames(const TIniFile& settings, const TCollectionDirs& dirs,
                        const std::optional<std::vector<TGameEntry>>& gameList, const TProgress& progress)
{
    TFoundGames found(settings, gameList);
    const std::vector<std::string> archives = dirs.zipDir ? platform::DirectoryEntries(*dirs.zipDir) : std::vector<std::string>{};
    // Without the emulator's list its directories cannot be told from snap, cfg and the like.
    const std::vector<std::string> gameDirs = gameList && !dirs.emulatorDir.empty()
        ? platform::DirectoryEntries(dirs.emulatorDir) : std::vector<std::string>{};
    TProgressSteps steps(progress, archives.size() + gameDirs.size());
    for (const std::string& archive : archives) {
        steps.Step();
        if (EndsWithZip(archive) && platform::FileExists(platform::JoinPath(*dirs.zipDir, archive)))
            found.Add(archive.substr(0, archive.size() - 4));
    }
    const platform::TSubdirectories present(dirs.emulatorDir);
    for (const std::string& dir : gameDirs) {
        steps.Step();
        const TGameEntry* listed = found.Listed(dir);
        if (listed && dir != "." && dir != ".." && present.CountEntries(dir, PresentEntryCount) >= PresentEntryCount)
            found.Add(listed->name);
    }
    if (progress)
        progress(1.0f);
    return std::move(found).Sorted();
}

TAddResult AddGamesFromDisk(TIniFile& settings, const TCollectionDirs& dirs, const TProgress& progress)
{
    TAddResult result = FindNewGames(settings, dirs, ReadEmulatorList(dirs.emulatorDir), progress);
    if (result.added.empty())
        return result;
    std::vector<TIniValue> values;
    values.reserve(result.added.size());
    for (const TGameEntry& game : result.added)
        values.push_back({"games", game.name, game.description});
    settings.WriteValues(values);
    return result;
}

TCollectionDirs DirsFromSettings(const TIniFile& settings)
{
    TCollectionDirs dirs;
    const std::string emulatorDir =
        settings.ReadString(settings::PathSection, settings::EmulatorDirKey, settings::DefaultEmulatorDir);
    if (emulatorDir != ToStd(NotDefinedMarker))
        dirs.emulatorDir = emulatorDir.empty() ? std::string(".") : emulatorDir;
    const std::string zipDir = settings.ReadString(settings::PathSection, settings::ZipDirKey, ToStd(NoZipMarker));
    if (zipDir != ToStd(NoZipMarker) && !zipDir.empty())
        dirs.zipDir = zipDir;
    return dirs;
}

std::string Summary(const TAddResult& result)
{
    std::string text = result.added.empty()     ? "No se encontraron juegos nuevos en el disco."
        : result.added.size() == 1 ? "Se añadió 1 juego al catálogo."
                                   : "Se añadieron " + std::to_string(result.added.size()) + " juegos al catálogo.";
    if (!result.skipped.empty()) {
        constexpr std::size_t Shown = 10;
        text += "\n\nNombres no válidos como clave de kabinex.ini, no añadidos:";
        for (std::size_t i = 0; i < std::min(Shown, result.skipped.size()); ++i)
            text += "\n  \"" + Printable(result.skipped[i]) + "\"";
        if (result.skipped.size() > Shown)
            text += "\n  y " + std::to_string(result.skipped.size() - Shown) + " más";
    }
    return text;
}

namespace {

constexpr const char* Usage =
    "Uso: kabinex [opción]\n"
    "Sin opciones abre la ventana de Kabinex en el directorio actual.\n"
    "  --add-games  añade al catálogo de kabinex.ini los juegos encontrados en el disco\n"
    "               (los ZIP del directorio de ZIPs y los directorios de juego del emulador)\n"
    "  --help       muestra esta ayuda\n"
    "Con un mando o un joystick: arriba/abajo recorren la lista, izquierda/derecha\n"
    "pasan página, A (botón 0) es Intro, B (botón 1) es Esc salvo en la ventana\n"
    "principal, Start suelto ejecuta, Back/Select suelto abre el léame, L/R cambian\n"
    "de vista (o de página), Back+Start 2 segundos cierra Kabinex. Mientras corre un\n"
    "juego, el mando es del juego.\n";

int AddGamesCommand(std::ostream& out, std::ostream& err)
{
    TIniFile settings(platform::FindEntry(platform::CurrentDir(), "kabinex.ini"));
    const bool terminal = isatty(STDERR_FILENO) == 1;
    const TProgress progress = [&](float fraction) {
        if (terminal)
            err << "\rBuscando juegos: " << int(fraction * 100) << " %" << (fraction >= 1 ? "\n" : "") << std::flush;
    };
    TAddResult result;
    try {
        result = AddGamesFromDisk(settings, DirsFromSettings(settings), progress);
    } catch (const std::exception& error) {
        err << error.what() << "\n";
        return 1;
    }
    for (const TGameEntry& game : result.added)
        out << "Añadido: " << game.name << " = " << game.description << "\n";
    for (const std::string& name : result.skipped)
        err << "Omitido, nombre no válido como clave: \"" << Printable(name) << "\"\n";
    out << result.added.size() << " juegos añadidos a " << settings.FileName() << "\n";
    return 0;
}

} // namespace

std::optional<int> RunCommandLine(int argc, char** argv, std::ostream& out, std::ostream& err)
{
    // Qt's own options (-platform, -display, -session ...) take one dash and go to the window.
    if (argc < 2 || std::string_view(argv[1]).substr(0, 2) != "--") {
        if (argc == 2 && std::string_view(argv[1]) == "-h") {
            out << Usage;
            return 0;
        }
        return std::nullopt;
    }
    const std::string option = argv[1];
    if (argc > 2) {
        err << "kabinex: argumento de más: " << Printable(argv[2]) << "\n" << Usage;
        return 2;
    }
    if (option == "--help") {
        out << Usage;
        return 0;
    }
    if (option == "--add-games") {
        int appArgc = 1;
        QCoreApplication app(appArgc, argv); // the emulator's list is read through Qt
        return AddGamesCommand(out, err);
    }
    err << "kabinex: opción desconocida: " << Printable(option) << "\n" << Usage;
    return 2;
}

} // namespace addgames
