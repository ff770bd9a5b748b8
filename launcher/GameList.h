// The game list: a model over the catalogue that marks each game by the ROM check as its row is
// first asked for, and checks the rest in idle time; and the list view that shows it.
#pragma once

#include "GameCatalogue.h"
#include "RomCheck.h"

#include <QAbstractTableModel>
#include <QElapsedTimer>
#include <QListView>
#include <QString>
#include <QTimer>
#include <cstdint>
#include <memory>
#include <vector>

class TIniFile;

// Prefixes the description of a game whose ROMs are missing.
inline const QString MissingMark = QStringLiteral("\u00B7\u00B7 ");

// Column 0 holds the descriptions as the list shows them, column 1 the ROM-set names.
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

    // The games of the settings' "games" section, none of them checked yet.
    void Load(const TIniFile& settings);
    const TGameCatalogue& Catalogue() const { return catalogue_; }

    // Starts the ROM check anew with check: every row is checked when first asked for, and the
    // rest in idle time. A check still running is dropped, with every mark it made.
    void Recheck(std::unique_ptr<TRomCheck> check);
    // The game's ROMs are present, by the current check (made now if the row was not yet checked).
    bool Available(int row) const;
    bool CheckRunning() const { return idle_.isActive(); }

    // The first row from `from` on (wrapping past the end) whose description begins with folded
    // (see FoldedForFind); -1 when none does.
    int FindByPrefix(std::u32string_view folded, int from) const;

    int rowCount(const QModelIndex& parent = {}) const override;
    int columnCount(const QModelIndex& parent = {}) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

signals:
    // Every row has its mark by the current check.
    void CheckFinished();

private:
    enum class TMark : std::uint8_t { Unchecked, Present, Missing };
    void CheckSome();
    QString Description(int row, qsizetype limit) const;

    TGameCatalogue catalogue_;
    std::unique_ptr<TRomCheck> check_;
    mutable std::vector<TMark> marks_;
    QTimer idle_;
    int nextInIdle_ = 0;
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
