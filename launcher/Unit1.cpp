#include "Unit1.h"

#include "AddGames.h"
#include "Artwork.h"
#include "Controls.h"
#include "Dialogs.h"
#include "Favourites.h"
#include "FindBox.h"
#include "FileSystem.h"
#include "GifUnit.h"
#include "Graphics.h"
#include "Guard.h"
#include "IniFiles.h"
#include "PictureCache.h"
#include "Preview.h"
#include "TypeToFind.h"
#include "Screen.h"
#include "progress.h"

#include <QAction>
#include <QActionGroup>
#include <QCheckBox>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QMenu>
#include <QShortcut>
#include <algorithm>
#include <cstdlib>
#include <limits>
#include <unistd.h>
#include <utility>

namespace {

constexpr TFontFace WindowFont{"MS Sans Serif", -11, true, clRed};
constexpr TFontFace ExecuteButtonFont{"MS Sans Serif", -11, true, clBlack};

constexpr TFormDescription MainWindow{"Kabinex", 547, 413, clBlack, WindowFont, TBorderIcons::SystemMenu};

using K = TControlKind;
const TControlRow MainControls[] = {
    {"Label1", K::Label, {16, 240, 99, 13}, "ROMs disponibles"},
    {"Label2", K::Label, {16, 160, 112, 13}, "Ruta a  MAVE.EXE:"},
    {"Image1", K::Image, {40, 8, 201, 145}, nullptr, "Logo de Kabinex: una cabina recreativa de pixeles"},
    {"Screenshot", K::Image, {264, 8, 273, 193}, nullptr, "Imagen Actual    "},
    {"Label3", K::Label, {16, 200, 126, 13}, "Ruta a ROMs en Zips  "},
    {"GameNames", K::ListBox, {224, 240, 33, 49}, nullptr, "Escoja un ROM ...", 0},
    {"GroupOptions", K::GroupBox, {264, 224, 161, 177}, "Options:", nullptr, 2},
    {"CheckJoy", K::CheckBox, {16, 24, 113, 25}, "Joystick activa", "Activ. Soporte Joystick", 0, "GroupOptions"},
    {"CheckNoSound", K::CheckBox, {16, 48, 81, 25}, "No Sonid", "Apaga Sonido. ", 1, "GroupOptions"},
    {"CheckFMBase", K::CheckBox, {16, 72, 137, 25}, "alt. FM-Base $338", "Cambiar direccion SB a $338. Orignal  $220", 2,
     "GroupOptions"},
    {"CheckNoScan", K::CheckBox, {16, 104, 97, 17}, "No Scanlines", "Quitar  Scanlines", 3, "GroupOptions"},
    {"CheckVSync", K::CheckBox, {16, 128, 97, 17}, "V-Sync", "Activa V-SYNC", 4, "GroupOptions"},
    {"CheckFrameskip", K::CheckBox, {16, 152, 129, 17}, "Frameskip (IREM)", "Poner frameskip=1 para ROMs IREM  ", 5,
     "GroupOptions"},
    {"ButtonQuit", K::Button, {448, 368, 81, 33}, "Fin!", "Salir de Kabinex", 3},
    {"ButtonAbout", K::Button, {448, 320, 81, 33}, " De!!", "Acerca de Kabinex", 4},
    {"MaveDir", K::Edit, {16, 176, 169, 21}, nullptr, "Use botón Selec. para cambiar ruta de MAVE  ", 5},
    {"GameDescs", K::ListBox, {16, 256, 225, 145}, nullptr, "Escoja un ROM", 1},
    {"MaveOpenButton", K::Button, {192, 176, 49, 25}, "Select", "Seleccione ruta a 'MAVE' ", 6},
    {"ZipDir", K::Edit, {16, 216, 169, 21}, nullptr,
     "Entre la ruta a sus ROMs en ZIP, o borre para desabilitar soporte de ZIP", 7},
    {"ZipOpenButton", K::Button, {192, 216, 49, 25}, "Select",
     "Escoja ruta al directorio de sus ROMs en ZIP no entre nada para eliminar soporte ", 8},
    {"ButtonHelp", K::Button, {448, 280, 81, 33}, "Help", "Ver arch. README ", 9},
    {"ButtonExecute", K::ColorButton, {448, 232, 81, 33}, "Ejecutar", nullptr, 10, nullptr, &ExecuteButtonFont},
};

// The emulator is "mave" on Linux and "MAVE.EXE" on Windows; picking any file stores its
// directory, so every file can be offered too.
const QString AllFilesFilter = QStringLiteral("Todos los archivos (*)");
const TOpenDialogFilters OpenDialog1{QStringList{QStringLiteral("MAVE.EXE (mave mave.exe)"), AllFilesFilter}};
const TOpenDialogFilters OpenDialog2{QStringList{QStringLiteral("Mave Zip Files (*.zip)"), AllFilesFilter}};

// Everything up to and including the last separator; empty when there is none.
QString DirectoryPart(const QString& fileName)
{
    const qsizetype slash = fileName.lastIndexOf(QLatin1Char(platform::PathDelim));
    return slash < 0 ? QString() : fileName.left(slash + 1);
}

const QString MainCaption = QStringLiteral("Kabinex");
const QString ExtractingCaption = QStringLiteral("Kabinex-extrayendo  ROMs");

const TControlRow& RowNamed(std::string_view name)
{
    return *std::ranges::find_if(MainControls, [&](const TControlRow& row) { return row.name == name; });
}

} // namespace

TForm1::TForm1(QWidget* parent)
    : TForm(MainWindow, parent)
    , launcher_(*this, [this](bool extracting) { SetCaption(extracting ? ExtractingCaption : MainCaption); })
{
    SetMainWindow();
    BuildControls(MainControls);
    games_ = new TGameListModel(this);
    GameNames = ReplaceListBox("GameNames");
    GameDescs = ReplaceListBox("GameDescs");
    BindControls();
    GameNames->setModel(games_);
    GameNames->setModelColumn(TGameListModel::NameColumn);
    GameDescs->setModel(games_);
    GameNames->setVisible(false);
    Image1->SetPicture(MainLogo());
    Screenshot->SetCenter(true);
    MaveDir->setReadOnly(true);
    ZipDir->setReadOnly(true);
    // Qt's default limit of 32,767 characters would cut a long directory when it is written back.
    MaveDir->setMaxLength(std::numeric_limits<int>::max());
    ZipDir->setMaxLength(std::numeric_limits<int>::max());
    SetDefaultButton(ButtonExecute);
    SetCancelButton(ButtonQuit);
    WireEvents();
    Guarded([this] { FormCreate(); });
}

TForm1::~TForm1()
{
    Guarded([this] { FormDestroy(); });
}

void TForm1::BindControls()
{
    Label1 = Control<QLabel>("Label1");
    Label2 = Control<QLabel>("Label2");
    Image1 = Control<TImage>("Image1");
    Screenshot = Control<TImage>("Screenshot");
    Label3 = Control<QLabel>("Label3");
    GroupOptions = Control<QGroupBox>("GroupOptions");
    CheckJoy = Control<QCheckBox>("CheckJoy");
    CheckNoSound = Control<QCheckBox>("CheckNoSound");
    CheckFMBase = Control<QCheckBox>("CheckFMBase");
    CheckNoScan = Control<QCheckBox>("CheckNoScan");
    CheckVSync = Control<QCheckBox>("CheckVSync");
    CheckFrameskip = Control<QCheckBox>("CheckFrameskip");
    for (int i = 0; i < settings::OptionCount; ++i)
        optionBoxes_[i] = Control<QCheckBox>(settings::Options[i].checkBox);
    ButtonQuit = Control<QPushButton>("ButtonQuit");
    ButtonAbout = Control<QPushButton>("ButtonAbout");
    MaveDir = Control<QLineEdit>("MaveDir");
    MaveOpenButton = Control<QPushButton>("MaveOpenButton");
    ZipDir = Control<QLineEdit>("ZipDir");
    ZipOpenButton = Control<QPushButton>("ZipOpenButton");
    ButtonHelp = Control<QPushButton>("ButtonHelp");
    ButtonExecute = Control<TColorButton>("ButtonExecute");
}

TGameListView* TForm1::ReplaceListBox(const char* name)
{
    QWidget* listBox = Control<QListWidget>(name);
    auto* list = new TGameListView(listBox->parentWidget());
    PlaceControl(list, RowNamed(name));
    list->stackUnder(listBox);
    setTabOrder(listBox, list);
    delete listBox;
    return list;
}

void TForm1::WireEvents()
{
    SetOnActivate([this] { FormActivate(); });
    ConnectHandler(GameDescs, &TGameListView::currentRowChanged, this, &TForm1::GameDescsClick);
    ConnectDoubleClick(GameDescs, [this] { GameDescsDblClick(); });
    ConnectHandler(ButtonExecute, &QPushButton::clicked, this, &TForm1::ButtonExecuteClick);
    ConnectHandler(MaveOpenButton, &QPushButton::clicked, this, &TForm1::MaveOpenButtonClick);
    ConnectHandler(ZipOpenButton, &QPushButton::clicked, this, &TForm1::ZipOpenButtonClick);
    ConnectHandler(ButtonHelp, &QPushButton::clicked, this, &TForm1::ButtonHelpClick);
    ConnectHandler(ButtonAbout, &QPushButton::clicked, this, &TForm1::ButtonAboutClick);
    ConnectHandler(ButtonQuit, &QPushButton::clicked, this, &TForm1::ButtonQuitClick);
    // From the game list's context menu or its Insert key: the window's layout stays as it is.
    auto* addGames = new QAction(QStringLiteral("Añadir juegos del disco"), GameDescs);
    addGames->setObjectName(QStringLiteral("AddGamesAction"));
    addGames->setShortcut(Qt::Key_Insert);
    addGames->setShortcutContext(Qt::WidgetShortcut);
    GameDescs->addAction(addGames);
    GameDescs->setContextMenuPolicy(Qt::ActionsContextMenu);
    ConnectHandler(addGames, &QAction::triggered, this, &TForm1::AddGamesClick);
    AddListActions();
    connect(&Runs(), &TRunTracker::GameEnded, this,
            [this](const std::string& game, const QDateTime& started) { Guarded([&] { GameEnded(game, started); }); });
    connect(games_, &TGameListModel::CheckFinished, this, &TForm1::ReportMarksFinal);
    // The available view fills in as the check goes: its first game found is selected.
    connect(games_, &QAbstractItemModel::rowsInserted, this, [this] {
        if (GameDescs->currentRow() < 0 && GameDescs->count() > 0)
            Guarded([this] { GameDescs->setCurrentRow(0); });
    });
}

// The views, the favourite mark and the find box, from the list's context menu and keys alone.
void TForm1::AddListActions()
{
    const auto onList = [this](const QKeySequence& keys, auto handler) {
        auto* shortcut = new QShortcut(keys, GameDescs);
        shortcut->setContext(Qt::WidgetShortcut);
        connect(shortcut, &QShortcut::activated, this, [handler] { Guarded(handler); });
    };
    auto* views = new QMenu(QStringLiteral("Mostrar"), GameDescs);
    auto* group = new QActionGroup(views);
    for (int i = 0; i < GameViewCount; ++i) {
        const auto view = static_cast<TGameView>(i);
        QAction* action = views->addAction(GameViewCaption(view));
        action->setCheckable(true);
        // Taken while the list has the focus: the submenu stands in the list's own menu.
        action->setShortcut(QKeySequence(Qt::CTRL | static_cast<Qt::Key>(Qt::Key_1 + i)));
        action->setShortcutContext(Qt::WidgetShortcut);
        action->setActionGroup(group);
        connect(action, &QAction::triggered, this, [this, view] { Guarded([this, view] { ChooseView(view); }); });
        viewActions_[i] = action;
    }
    GameDescs->addAction(views->menuAction());
    auto* favourite = new QAction(QStringLiteral("Favorito"), GameDescs);
    favourite->setObjectName(QStringLiteral("FavouriteAction"));
    favourite->setShortcut(QKeySequence(Qt::CTRL | Qt::Key_D));
    favourite->setShortcutContext(Qt::WidgetShortcut);
    GameDescs->addAction(favourite);
    ConnectHandler(favourite, &QAction::triggered, this, &TForm1::FavouriteClick);

    findBox_ = new TFindBox(this);
    const QRect list = GameDescs->geometry();
    findBox_->setGeometry(list.left(), list.bottom() - 26, list.width(), 26);
    connect(findBox_, &TFindBox::FindNext, this, [this](const QString& text) { Guarded([&] { FindNextGame(text); }); });
    connect(findBox_, &TFindBox::Closed, GameDescs, qOverload<>(&QWidget::setFocus));
    onList(QKeySequence(Qt::CTRL | Qt::Key_F), [this] { findBox_->Open(); });
    onList(QKeySequence(Qt::Key_F3), [this] { FindNextGame(findBox_->Text()); });
}

// The start-up benchmark times the check through this descriptor; nothing else sets it.
void TForm1::ReportMarksFinal() const
{
    if (const char* fd = std::getenv("KABINEX_MARKS_FINAL_FD"))
        (void)!write(std::atoi(fd), "\n", 1);
}

void TForm1::FormCreate()
{
    screenshotGif_ = std::make_unique<TGifFile>();
    pictures_ = std::make_unique<preview::TPictureCache>();
    programDir_ = platform::CurrentDir();
    settings_ = std::make_unique<TIniFile>(platform::FindEntry(programDir_, "kabinex.ini"));
    using namespace settings;
    MaveDir->setText(QString::fromStdString(settings_->ReadString(PathSection, EmulatorDirKey, DefaultEmulatorDir)));
    ZipDir->setText(QString::fromStdString(settings_->ReadString(PathSection, ZipDirKey, ToStd(NoZipMarker))));
    unzipper_ = settings_->ReadString(PathSection, UnzipperKey, DefaultUnzipper);
    for (int i = 0; i < OptionCount; ++i) {
        optionsRead_[i] = ReadOption(*settings_, Options[i]);
        optionBoxes_[i]->setChecked(optionsRead_[i].checked);
    }
    ReadView();
    games_->SetPlays(LoadPlayStats(PlayStatsPath()));
    FillCatalogue();
}

void TForm1::ReadView()
{
    // No value holds a line break: this one stands for a missing entry.
    const std::string missing = "\n";
    const std::string read = settings_->ReadString(settings::OptionsSection, settings::ViewKey, missing);
    if (read != missing)
        viewRead_ = read;
    const TGameView view = viewRead_ ? GameViewFromText(*viewRead_).value_or(TGameView::All) : TGameView::All;
    viewActions_[static_cast<int>(view)]->setChecked(true);
    games_->SetView(view);
}

std::optional<std::string> TForm1::ViewToWrite() const
{
    const TGameView view = games_->View();
    if (viewRead_ && GameViewFromText(*viewRead_).value_or(TGameView::All) == view)
        return viewRead_;
    if (!viewRead_ && view == TGameView::All)
        return std::nullopt;
    return GameViewText(view);
}

// The "games" section: the keys are the ROM-set names, the values their descriptions. Rows are
// checked as they are drawn, the rest once the window shows.
void TForm1::FillCatalogue()
{
    const QSignalBlocker blockDescs(GameDescs);
    games_->Load(*settings_);
    games_->Recheck([this] { return RomCheckNow(); }, CountMemoNow());
    if (GameDescs->count() > 0)
        GameDescs->setCurrentRow(0);
    ShowPlayFigures();
}

void TForm1::FormDestroy()
{
    if (!settings_)
        return;
    using namespace settings;
    // One write for every value: the file is replaced whole or left as it was.
    std::vector<TIniValue> values{
        {PathSection, EmulatorDirKey, ToStd(MaveDir->text())},
        {PathSection, ZipDirKey, ToStd(ZipDir->text())},
    };
    for (int i = 0; i < OptionCount; ++i)
        values.push_back({OptionsSection, Options[i].key, OptionValue(optionsRead_[i], optionBoxes_[i]->isChecked())});
    if (const std::optional<std::string> view = ViewToWrite())
        values.push_back({OptionsSection, ViewKey, *view});
    for (TIniValue& favourite : FavouriteValues(*settings_, games_->Catalogue(), games_->Favourites()))
        values.push_back(std::move(favourite));
    settings_->WriteValues(values);
}

void TForm1::FormActivate()
{
    GameDescsClick();
    GameDescs->setFocus();
}

std::string TForm1::SelectedGame() const
{
    const int row = GameDescs->currentRow();
    if (row < 0 || row >= games_->rowCount())
        return {};
    return std::string(games_->Name(row));
}

std::unique_ptr<TRomCheck> TForm1::RomCheckNow() const
{
    return std::make_unique<TRomCheck>(EmulatorDirForCheck(), ZipDirNow());
}

TCountMemoFile TForm1::CountMemoNow() const
{
    const std::string emulatorDir = EmulatorDirForCheck();
    return {CountMemoPath(emulatorDir), emulatorDir};
}

std::optional<std::string> TForm1::ZipDirNow() const
{
    return settings::ZipDirOf(ZipDir->text());
}

std::string TForm1::EmulatorDirForCheck() const
{
    if (MaveDir->text() == NotDefinedMarker)
        return {}; // names no directory
    return MaveDir->text().isEmpty() ? std::string(".") : ToStd(MaveDir->text());
}

// Every game again, on the disk as it is now; a check still running is dropped.
void TForm1::ROMCHECK()
{
    games_->Recheck([this] { return RomCheckNow(); }, CountMemoNow());
}

void TForm1::SetExecuteButton()
{
    if (MaveDir->text() == NotDefinedMarker) {
        ButtonExecute->setText(QStringLiteral("No MAVE!"));
        ButtonExecute->SetCaptionColor(clRed);
        return;
    }
    const int row = GameDescs->currentRow();
    if (row >= 0 && games_->Available(row)) {
        ButtonExecute->setText(QStringLiteral("Ejecute!"));
        ButtonExecute->SetCaptionColor(clGreen);
    } else {
        ButtonExecute->setText(QStringLiteral("No ROMs!"));
        ButtonExecute->SetCaptionColor(clRed);
    }
}

void TForm1::GameDescsClick()
{
    // An empty catalogue has nothing to show; a name that is no plain file name gets the placeholder.
    if (GameDescs->currentRow() >= 0) {
        const std::string game = SelectedGame();
        ShowScreenshot(platform::IsPlainFileName(game) ? ScreenshotPath(game) : PlaceholderPath());
        PrefetchNeighbours();
    }
    ShowPlayFigures();
    SetExecuteButton();
}

// The list's hint, then how the selected game has been played.
void TForm1::ShowPlayFigures()
{
    const int row = GameDescs->currentRow();
    const QString hint = QString::fromUtf8(RowNamed("GameDescs").hint);
    GameDescs->setToolTip(row < 0 ? hint : hint + QLatin1Char('\n') + PlayFigures(games_->Plays().Find(games_->Name(row))));
}

// The games above and below are the likely next ones: their PNG and JPEG screenshots are decoded
// meanwhile. GIF files decode quickly enough as they are shown.
void TForm1::PrefetchNeighbours()
{
    const int row = GameDescs->currentRow();
    for (const int next : {row + 1, row - 1}) {
        if (next < 0 || next >= games_->rowCount())
            continue;
        const std::string game(games_->Name(next));
        if (!platform::IsPlainFileName(game))
            continue;
        const std::string path = ScreenshotPath(game);
        if (!preview::IsGifFile(path))
            pictures_->Prefetch(path, Screenshot->size());
    }
}

std::string TForm1::ScreenshotPath(const std::string& game) const
{
    return preview::ScreenshotPath(programDir_, EmulatorDirForCheck(), game);
}

std::string TForm1::PlaceholderPath() const
{
    return preview::PlaceholderPath(programDir_);
}

void TForm1::ShowScreenshot(const std::string& path)
{
    preview::ShowScreenshot(*screenshotGif_, *pictures_, *Screenshot, path, PlaceholderPath());
}

void TForm1::GameDescsDblClick()
{
    if (ButtonExecute->isEnabled())
        ButtonExecuteClick();
}

std::vector<std::string> TForm1::EmulatorArguments(const std::string& game) const
{
    std::vector<std::string> arguments{game};
    for (int i = 0; i < settings::OptionCount; ++i)
        if (optionBoxes_[i]->isChecked())
            arguments.emplace_back(settings::Options[i].emulatorSwitch);
    return arguments;
}

void TForm1::ButtonExecuteClick()
{
    if (MaveDir->text() == NotDefinedMarker) {
        Dialogs().ShowWarning(QStringLiteral("Use el botón Selec. para definirla ruta a MAVE   "));
        Screen::SetCursor(TCursor::Default);
        return;
    }
    if (GameDescs->currentRow() < 0)
        return;
    const std::string game = SelectedGame();
    if (!platform::IsPlainFileName(game)) {
        Dialogs().ShowMessage(
            QStringLiteral("El nombre de ROM \"%1\" no es un nombre de archivo válido.").arg(QString::fromStdString(game)));
        return;
    }
    RunLaunch({ToStd(MaveDir->text()), ZipDirNow(), unzipper_, game, EmulatorArguments(game)});
}

void TForm1::RunLaunch(const TLaunchRequest& request)
{
    Screen::SetCursor(TCursor::HourGlass);
    const TLaunchNotice notice = NoticeFor(launcher_.Launch(request));
    Screen::SetCursor(TCursor::Default); // no box shows under the hourglass
    if (notice.box == TNoticeBox::Message)
        Dialogs().ShowMessage(notice.text);
    else if (notice.box == TNoticeBox::Error)
        Dialogs().ShowError(notice.text);
}

void TForm1::PickDirectory(QLineEdit* field, const TOpenDialogFilters& filter, const QString& marker)
{
    // A marker names no directory: the dialog then starts in the program directory.
    const bool marked = field->text() == NotDefinedMarker || field->text() == NoZipMarker;
    const QString initialDir = marked ? QString::fromStdString(programDir_) : field->text();
    const QString picked = Dialogs().OpenFile(this, filter, initialDir);
    const QString directory = DirectoryPart(picked);
    field->setText(directory.isEmpty() ? marker : directory);
    ROMCHECK();
    SetExecuteButton();
}

void TForm1::MaveOpenButtonClick()
{
    PickDirectory(MaveDir, OpenDialog1, NotDefinedMarker);
}

void TForm1::ZipOpenButtonClick()
{
    PickDirectory(ZipDir, OpenDialog2, NoZipMarker);
}

void TForm1::SetAuxiliaryWindows(TForm* aboutBox, TForm* readmeViewer)
{
    aboutBox_ = aboutBox;
    readmeViewer_ = readmeViewer;
}

void TForm1::ButtonHelpClick()
{
    if (MaveDir->text() == NotDefinedMarker)
        Dialogs().ShowWarning(QStringLiteral("Use el botón Selec. para definir ruta a MAVE.EXE "));
    else if (readmeViewer_)
        readmeViewer_->ShowModal();
}

void TForm1::ButtonAboutClick()
{
    if (aboutBox_)
        aboutBox_->ShowModal();
}

void TForm1::AddGamesClick()
{
    Screen::SetCursor(TCursor::HourGlass);
    const auto showProgress = [](float fraction) {
        if (ProgressHook)
            ProgressHook(fraction);
    };
    addgames::TAddResult result;
    try {
        result = addgames::AddGamesFromDisk(*settings_, {EmulatorDirForCheck(), ZipDirNow()}, showProgress);
    } catch (...) {
        Screen::SetCursor(TCursor::Default);
        throw;
    }
    FillCatalogue();
    Screen::SetCursor(TCursor::Default);
    Dialogs().ShowMessage(QString::fromStdString(addgames::Summary(result)));
    GameDescsClick(); // the list starts again at its first game: its picture and launch button
}

void TForm1::ChooseView(TGameView view)
{
    const int row = GameDescs->currentRow();
    const int game = row >= 0 ? games_->GameAt(row) : -1;
    viewActions_[static_cast<int>(view)]->setChecked(true);
    {
        const QSignalBlocker quiet(GameDescs);
        games_->SetView(view);
    }
    SelectGame(game);
}

void TForm1::SelectGame(int game)
{
    const int row = games_->RowOf(game);
    GameDescs->setCurrentRow(row >= 0 ? row : 0);
    if (GameDescs->currentRow() >= 0)
        GameDescs->scrollTo(GameDescs->currentIndex());
    GameDescsClick(); // the picture and the button, also when the view is empty
}

void TForm1::FavouriteClick()
{
    const int row = GameDescs->currentRow();
    if (row < 0)
        return;
    const int game = games_->GameAt(row);
    {
        const QSignalBlocker quiet(GameDescs);
        games_->SetFavourite(game, !games_->Favourite(game));
    }
    if (games_->RowOf(game) != row)
        SelectGame(game); // left the favourites view
}

void TForm1::FindNextGame(const QString& text)
{
    const std::vector<std::u32string> words = FoldedWords(text);
    const int rows = GameDescs->count();
    if (words.empty() || rows == 0)
        return;
    const int found = games_->FindContaining(words, (GameDescs->currentRow() + 1) % rows);
    if (found >= 0) {
        GameDescs->setCurrentRow(found);
        GameDescs->scrollTo(GameDescs->currentIndex());
    }
}

void TForm1::GameEnded(const std::string& game, const QDateTime& started)
{
    const long long seconds = started.secsTo(QDateTime::currentDateTime());
    TPlayStats plays;
    try {
        plays = RecordPlay(PlayStatsPath(), game, started, seconds);
    } catch (const Exception&) {
        // The state directory cannot be written (a locked-down cabinet, a full disk): the first
        // launch has said so already. The play still counts for this run.
        plays = games_->Plays();
        plays.Add(game, started, seconds);
    }
    const int row = GameDescs->currentRow();
    const int selected = row >= 0 ? games_->GameAt(row) : -1;
    const TGameView view = games_->View();
    {
        const QSignalBlocker quiet(GameDescs);
        games_->SetPlays(std::move(plays));
    }
    if (view == TGameView::MostPlayed || view == TGameView::Recent)
        SelectGame(selected); // the rows moved
    else
        ShowPlayFigures();
}

void TForm1::ButtonQuitClick()
{
    close();
}
