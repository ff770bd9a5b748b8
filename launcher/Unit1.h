// The main window: the game catalogue, the selected game's screenshot, the two directories, the
// six emulator options and the buttons.
#pragma once

#include "Forms.h"
#include "GameLaunch.h"
#include "GameList.h"
#include "Settings.h"

#include <QString>
#include <array>
#include <memory>
#include <optional>
#include <string>
#include <vector>

class QAction;
class QDateTime;
class QCheckBox;
class TFindBox;
class QGroupBox;
class QLabel;
class QLineEdit;
class QPushButton;
class TColorButton;
class TImage;
class TGifFile;
class TIniFile;
namespace preview {
class TPictureCache;
}

class TForm1 : public TForm {
    Q_OBJECT
public:
    explicit TForm1(QWidget* parent = nullptr);
    ~TForm1() override;

    void ROMCHECK();
    void SetExecuteButton();

    // Event handlers.
    void FormCreate();
    void FormActivate();
    void FormDestroy();
    void GameDescsClick();
    void GameDescsDblClick();
    void ButtonExecuteClick();
    void MaveOpenButtonClick();
    void ZipOpenButtonClick();
    void ButtonHelpClick();
    void ButtonAboutClick();
    void ButtonQuitClick();
    // Adds the games found on disk to the catalogue, then fills and checks the list again.
    void AddGamesClick();
    // Shows the view in the list, the selected game kept where the view holds it.
    void ChooseView(TGameView view);
    // Marks or unmarks the selected game as a favourite.
    void FavouriteClick();
    // Selects the next game after the selected one whose description holds the words of text.
    void FindNextGame(const QString& text);
    // Adds the play of a game that has ended to the play statistics.
    void GameEnded(const std::string& game, const QDateTime& started);

    // Shows the screenshot file at path (GIF, PNG or JPEG) in Screenshot, or the placeholder when
    // there is no such file.
    void ShowScreenshot(const std::string& path);

    // The emulator's arguments: the ROM-set name, then the switches of the checked options.
    std::vector<std::string> EmulatorArguments(const std::string& game) const;
    // The emulators started and the clean-ups they leave.
    TRunTracker& Runs() { return launcher_.Runs(); }

    // The windows that Help and About open; created after this one, not owned.
    void SetAuxiliaryWindows(TForm* aboutBox, TForm* readmeViewer);

    const std::string& ProgramDir() const { return programDir_; }
    const std::string& Unzipper() const { return unzipper_; }
    // The ROM-set name of the game selected in GameDescs; empty when nothing is selected.
    std::string SelectedGame() const;

    QLabel* Label1;
    QLabel* Label2;
    TImage* Image1;
    TImage* Screenshot;
    QLabel* Label3;
    TGameListView* GameNames;
    QGroupBox* GroupOptions;
    QCheckBox* CheckJoy;
    QCheckBox* CheckNoSound;
    QCheckBox* CheckFMBase;
    QCheckBox* CheckNoScan;
    QCheckBox* CheckVSync;
    QCheckBox* CheckFrameskip;
    QPushButton* ButtonQuit;
    QPushButton* ButtonAbout;
    QLineEdit* MaveDir;
    TGameListView* GameDescs;
    QPushButton* MaveOpenButton;
    QLineEdit* ZipDir;
    QPushButton* ZipOpenButton;
    QPushButton* ButtonHelp;
    TColorButton* ButtonExecute;

private:
    void PrefetchNeighbours();
    void BindControls();
    // The file that shows the game (a plain file name), else the placeholder.
    std::string ScreenshotPath(const std::string& game) const;
    std::string PlaceholderPath() const;
    void WireEvents();
    void FillCatalogue();
    // Puts a game list where the table's list box of that name stood, in its place in the tab order.
    TGameListView* ReplaceListBox(const char* name);
    // A ROM check of the directories as the fields name them now.
    std::unique_ptr<TRomCheck> RomCheckNow() const;
    TCountMemoFile CountMemoNow() const;
    // The directory whose subdirectories are the games' directories; empty while none is set.
    std::string EmulatorDirForCheck() const;
    // The ZIP directory the field names; nothing while ZIP support is off.
    std::optional<std::string> ZipDirNow() const;
    // Shows the cursor and the caption of a launch, and then what it came to.
    void RunLaunch(const TLaunchRequest& request);
    void ReportMarksFinal() const;
    void AddListActions();
    // Selects game where the view shows it, else the view's first row.
    void SelectGame(int game);
    void ReadView();
    void ShowPlayFigures();
    // The view to write back at exit: as read while unchanged, nothing while never chosen.
    std::optional<std::string> ViewToWrite() const;
    // Runs a file-open dialog and stores the picked file's directory in field, or marker on cancel.
    void PickDirectory(QLineEdit* field, const struct TOpenDialogFilters& filter, const QString& marker);

    std::string programDir_;
    std::unique_ptr<TIniFile> settings_;
    std::string unzipper_;
    std::unique_ptr<TGifFile> screenshotGif_;
    std::unique_ptr<preview::TPictureCache> pictures_;
    TGameListModel* games_;
    QPointer<TForm> aboutBox_;
    QPointer<TForm> readmeViewer_;
    // The option check boxes in the order of settings::Options.
    std::array<QCheckBox*, settings::OptionCount> optionBoxes_{};
    // The options as read at start, written back as they were unless their box changed.
    std::array<settings::TOptionRead, settings::OptionCount> optionsRead_{};
    TGameLauncher launcher_;
    TFindBox* findBox_ = nullptr;
    std::array<QAction*, GameViewCount> viewActions_{};
    std::optional<std::string> viewRead_; // the view's value as the file held it
};
