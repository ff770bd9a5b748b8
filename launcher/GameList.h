// The game list: a model over the catalogue that marks each game by the ROM check as its row is
// first asked for, and checks the rest in idle time; and the list view that shows it.
#pragma once

#include "BackgroundCheck.h"
#include "GameCatalogue.h"
#include "GameViews.h"
#include "PlayStats.h"
#include "RomCheck.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QListView>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class TIniFile;

// Prefixes the description of a game whose ROMs are missing.
inline const QString MissingMark = QStringLiteral("\u00B7\u00B7 ");
// Prefixes the description of a favourite, after the missing-ROM mark.
inline const QString FavouriteMark = QStringLiteral("\u2605 ");

// Column 0 holds the descriptions as the list shows them, column 1 the ROM-set names. The rows
// are the games of the chosen view; "game" below means an index into the catalogue.
class TGameListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { DescriptionColumn, NameColumn };
    // The start of the description as a row draws it: a row costs the same to draw however long
    // its description is, since no list is wide enough to show more.
    static constexpr int ShownTextRole = Qt::UserRole;
    static constexpr int ShownCharacters = 256;
    static constexpr int RowHeight = 13;

    explicit TGameListModel(QObject* parent = nullptr);

    // The games of the settings' "games" section, none of them checked yet, and their favourite
    // marks.
    void Load(const TIniFile& settings);
    const TGameCatalogue& Catalogue() const { return catalogue_; }

    // Shows the games of view. The available view, while the check runs, holds the games found
    // present so far and grows as the check goes on: a game not yet checked is never shown.
    void SetView(TGameView view);
    TGameView View() const { return view_; }
    // The game shown at row, and the row that shows game (-1 when the view leaves it out).
    int GameAt(int row) const;
    int RowOf(int game) const;
    std::string_view Name(int row) const { return catalogue_.Name(GameAt(row)); }

    bool Favourite(int game) const { return favourites_[static_cast<std::size_t>(game)]; }
    void SetFavourite(int game, bool favourite);
    const std::vector<bool>& Favourites() const { return favourites_; }
    // The plays the most played and recent views and the tooltip go by.
    void SetPlays(TPlayStats plays);
    const TPlayStats& Plays() const { return plays_; }

    // Starts the ROM check anew with the checks makeCheck makes: every row is checked when first
    // asked for, the rest on a thread of its own and in idle time. A check still running is
    // dropped, with every mark it made.
    void Recheck(const std::function<std::unique_ptr<TRomCheck>()>& makeCheck, TCountMemoFile memo = {});
    // The row's ROMs are present, by the current check (made now if the row was not yet checked).
    bool Available(int row) const;
    bool CheckRunning() const { return idle_.isActive(); }

    // The first row from `from` on (wrapping past the end) whose description begins with folded
    // (see FoldedForFind); -1 when none does.
    int FindByPrefix(std::u32string_view folded, int from) const;
    // The first row from `from` on (wrapping) whose description holds every one of the folded
    // words anywhere; -1 when none does.
    int FindContaining(const std::vector<std::u32string>& words, int from) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // Every row has its mark by the current check.
    void CheckFinished();

private:
    void CheckSome();
    bool GameAvailable(int game) const;
    // Appends to the available view the games settled present up to `to`.
    void ShowCheckedFrom(int to);
    void FillRows();
    QString Description(int row, qsizetype limit) const;
    void RowsChanged(int first, int last);

    TGameCatalogue catalogue_;
    // Mutable: a row drawn before the check got to it is checked then.
    mutable std::unique_ptr<TBackgroundCheck> check_;
    QTimer idle_;
    int shownFromStart_ = 0; // the games from the first on the available view has looked at
    std::vector<bool> favourites_;
    TPlayStats plays_;
    TGameView view_ = TGameView::All;
    std::vector<int> rows_;      // the games of a view other than All, row by row
    mutable std::vector<int> rowOfGame_; // by game: its row in that view, or -1
};

// A list box over a TGameListModel column, with the list box's row-number calls, type-to-find,
// and a selection that a click on the empty part of the list leaves in place.
class TGameListView : public QListView {
    Q_OBJECT
public:
    explicit TGameListView(QWidget* parent = nullptr);

    int count() const;
    int currentRow() const;
    void setCurrentRow(int row);

    // Letters typed within this time of each other extend the text looked for.
    static constexpr int TypingPauseMs = 1000;
    void keyboardSearch(const QString& search) override;

signals:
    void currentRowChanged(int row);

protected:
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;
    QItemSelectionModel::SelectionFlags selectionCommand(const QModelIndex& index,
                                                         const QEvent* event = nullptr) const override;
    void keyPressEvent(QKeyEvent* event) override;

private:
    QString typed_;
    QElapsedTimer sinceTyped_;
};
