#include "GameList.h"

#include "Favourites.h"
#include "IniFiles.h"
#include "TypeToFind.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>
#include <algorithm>
#include <unordered_map>
#include <utility>

namespace {

// An idle slice checks rows for at most this long, so keys and paints wait no longer.
constexpr int IdleSliceMs = 4;

// The UTF-8 text cut to at most limit bytes, never inside a character.
std::string_view CutUtf8(std::string_view text, std::size_t limit)
{
    if (text.size() <= limit)
        return text;
    while (limit > 0 && (static_cast<unsigned char>(text[limit]) & 0xC0) == 0x80)
        --limit;
    return text.substr(0, limit);
}

// Draws a row from the start of its description only (TGameListModel::ShownTextRole).
class TShownTextDelegate final : public QStyledItemDelegate {
public:
    using QStyledItemDelegate::QStyledItemDelegate;

protected:
    void initStyleOption(QStyleOptionViewItem* option, const QModelIndex& index) const override
    {
        option->index = index;
        option->text = index.data(TGameListModel::ShownTextRole).toString();
        option->features |= QStyleOptionViewItem::HasDisplay;
        option->styleObject = nullptr;
    }
};

} // namespace

TGameListModel::TGameListModel(QObject* parent)
    : QAbstractTableModel(parent)
{
    // Idle time between waits for the thread: slices of the check from the end.
    idle_.setInterval(0);
    connect(&idle_, &QTimer::timeout, this, &TGameListModel::CheckSome);
}

void TGameListModel::Load(const TIniFile& settings)
{
    beginResetModel();
    idle_.stop();
    check_.reset();
    // Marks set since the start are not in the file yet: a game listed before keeps its own.
    std::unordered_map<std::string, bool> marked;
    for (int game = 0; game < catalogue_.Count(); ++game)
        marked.try_emplace(std::string(catalogue_.Name(game)), favourites_[static_cast<std::size_t>(game)]);
    catalogue_.Load(settings);
    favourites_ = ReadFavourites(settings, catalogue_);
    for (int game = 0; game < catalogue_.Count(); ++game)
        if (const auto known = marked.find(std::string(catalogue_.Name(game))); known != marked.end())
            favourites_[static_cast<std::size_t>(game)] = known->second;
    FillRows();
    endResetModel();
}

void TGameListModel::SetView(TGameView view)
{
    beginResetModel();
    view_ = view;
    FillRows();
    endResetModel();
}

void TGameListModel::FillRows()
{
    rows_.clear();
    rowOfGame_.clear();
    if (view_ == TGameView::All)
        return;
    // Only what the check has settled: the rest joins the available view as it is reached.
    const bool finished = check_ && check_->Finished();
    shownFromStart_ = !check_ ? 0 : finished ? catalogue_.Count() : check_->SettledFromStart();
    const auto settledPresent = [this](int game) {
        return game < shownFromStart_ && check_->Mark(game) == TMark::Present;
    };
    rows_ = GamesInView(view_, {catalogue_, settledPresent, favourites_, plays_});
}

int TGameListModel::GameAt(int row) const
{
    return view_ == TGameView::All ? row : rows_[static_cast<std::size_t>(row)];
}

int TGameListModel::RowOf(int game) const
{
    if (view_ == TGameView::All)
        return game >= 0 && game < catalogue_.Count() ? game : -1;
    if (rowOfGame_.size() != static_cast<std::size_t>(catalogue_.Count())) {
        rowOfGame_.assign(static_cast<std::size_t>(catalogue_.Count()), -1);
        for (std::size_t row = 0; row < rows_.size(); ++row)
            rowOfGame_[static_cast<std::size_t>(rows_[row])] = static_cast<int>(row);
    }
    return game >= 0 && game < catalogue_.Count() ? rowOfGame_[static_cast<std::size_t>(game)] : -1;
}

void TGameListModel::SetFavourite(int game, bool favourite)
{
    favourites_[static_cast<std::size_t>(game)] = favourite;
    if (view_ == TGameView::Favourites) {
        SetView(view_);
        return;
    }
    if (const int row = RowOf(game); row >= 0)
        RowsChanged(row, row);
}

void TGameListModel::SetPlays(TPlayStats plays)
{
    plays_ = std::move(plays);
    if (view_ == TGameView::MostPlayed || view_ == TGameView::Recent)
        SetView(view_);
}

void TGameListModel::RowsChanged(int first, int last)
{
    emit dataChanged(index(first, 0), index(last, columnCount() - 1), {Qt::DisplayRole, ShownTextRole});
}

void TGameListModel::Recheck(const std::function<std::unique_ptr<TRomCheck>()>& makeCheck, TCountMemoFile memo)
{
    check_.reset(); // its thread ends first
    check_ = std::make_unique<TBackgroundCheck>(catalogue_, makeCheck(), makeCheck(), std::move(memo));
    idle_.start();
    if (view_ == TGameView::Available) {
        SetView(view_); // empty until the check finds games present
        return;
    }
    // The view draws its rows again, which checks them first.
    if (rowCount() > 0)
        RowsChanged(0, rowCount() - 1);
}

bool TGameListModel::Available(int row) const
{
    return GameAvailable(GameAt(row));
}

bool TGameListModel::GameAvailable(int game) const
{
    return check_ && check_->Present(game);
}

void TGameListModel::CheckSome()
{
    if (!check_->Finished())
        check_->CheckFromEnd(IdleSliceMs);
    const bool finished = check_->Finished();
    ShowCheckedFrom(finished ? catalogue_.Count() : check_->SettledFromStart());
    if (!finished)
        return;
    idle_.stop();
    emit CheckFinished();
}

void TGameListModel::ShowCheckedFrom(int to)
{
    const int from = std::exchange(shownFromStart_, std::max(shownFromStart_, to));
    if (view_ != TGameView::Available)
        return;
    std::vector<int> found;
    for (int game = from; game < shownFromStart_; ++game)
        if (check_->Mark(game) == TMark::Present)
            found.push_back(game);
    if (found.empty())
        return;
    const int first = static_cast<int>(rows_.size());
    beginInsertRows({}, first, first + static_cast<int>(found.size()) - 1);
    rows_.insert(rows_.end(), found.begin(), found.end());
    rowOfGame_.clear();
    endInsertRows();
}

int TGameListModel::FindByPrefix(std::u32string_view folded, int from) const
{
    const int rows = rowCount();
    for (int i = 0; i < rows; ++i) {
        const int row = (from + i) % rows;
        if (BeginsWithFolded(catalogue_.Description(GameAt(row)), folded))
            return row;
    }
    return -1;
}

int TGameListModel::FindContaining(const std::vector<std::u32string>& words, int from) const
{
    const int rows = rowCount();
    for (int i = 0; i < rows; ++i) {
        const int row = (from + i) % rows;
        const std::string_view description = catalogue_.Description(GameAt(row));
        if (std::ranges::all_of(words, [&](const std::u32string& word) { return HoldsFolded(description, word); }))
            return row;
    }
    return -1;
}

QString TGameListModel::Description(int row, qsizetype limit) const
{
    const int game = GameAt(row);
    const std::string_view text = CutUtf8(catalogue_.Description(game), static_cast<std::size_t>(limit));
    QString shown = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    if (Favourite(game))
        shown.prepend(FavouriteMark);
    return GameAvailable(game) ? shown : MissingMark + shown;
}

int TGameListModel::rowCount(const QModelIndex& parent) const
{
    if (parent.isValid())
        return 0;
    return view_ == TGameView::All ? catalogue_.Count() : static_cast<int>(rows_.size());
}

int TGameListModel::columnCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : 2;
}

QVariant TGameListModel::data(const QModelIndex& index, int role) const
{
    if (!index.isValid() || index.row() >= rowCount())
        return {};
    const int row = index.row();
    if (role == Qt::SizeHintRole)
        return QSize(0, RowHeight);
    if (index.column() == NameColumn) {
        if (role != Qt::DisplayRole)
            return {};
        const std::string_view name = Name(row);
        return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    }
    if (role == Qt::DisplayRole)
        return Description(row, std::numeric_limits<qsizetype>::max());
    if (role == ShownTextRole) {
        const int game = GameAt(row);
        const qsizetype marks = (GameAvailable(game) ? 0 : MissingMark.size()) + (Favourite(game) ? FavouriteMark.size() : 0);
        // Four UTF-8 bytes at most per character.
        return Description(row, ShownCharacters * 4).left(ShownCharacters + marks);
    }
    return {};
}

Qt::ItemFlags TGameListModel::flags(const QModelIndex& index) const
{
    return index.isValid() ? Qt::ItemIsSelectable | Qt::ItemIsEnabled : Qt::NoItemFlags;
}

TGameListView::TGameListView(QWidget* parent)
    : QListView(parent)
{
    setUniformItemSizes(true);
    setSelectionMode(QAbstractItemView::SingleSelection);
    setEditTriggers(QAbstractItemView::NoEditTriggers);
    setItemDelegate(new TShownTextDelegate(this));
}

int TGameListView::count() const
{
    return model() ? model()->rowCount() : 0;
}

int TGameListView::currentRow() const
{
    return currentIndex().isValid() ? currentIndex().row() : -1;
}

void TGameListView::setCurrentRow(int row)
{
    if (model())
        setCurrentIndex(model()->index(row, modelColumn()));
}

void TGameListView::currentChanged(const QModelIndex& current, const QModelIndex& previous)
{
    QListView::currentChanged(current, previous);
    emit currentRowChanged(current.isValid() ? current.row() : -1);
}

QItemSelectionModel::SelectionFlags TGameListView::selectionCommand(const QModelIndex& index,
                                                                     const QEvent* event) const
{
    // A press, drag or release over no row leaves the selection as it is, as a list box does.
    if (!index.isValid() && event != nullptr && dynamic_cast<const QMouseEvent*>(event) != nullptr)
        return QItemSelectionModel::NoUpdate;
    return QListView::selectionCommand(index, event);
}

void TGameListView::keyPressEvent(QKeyEvent* event)
{
    // A blank goes into the text being typed ("dragon d"); otherwise it keeps the list's meaning.
    const bool typing = !typed_.isEmpty() && sinceTyped_.isValid() && sinceTyped_.elapsed() <= TypingPauseMs;
    if (typing && event->key() == Qt::Key_Space && event->modifiers() == Qt::NoModifier) {
        keyboardSearch(QStringLiteral(" "));
        event->accept();
        return;
    }
    QListView::keyPressEvent(event);
}

void TGameListView::keyboardSearch(const QString& search)
{
    auto* games = qobject_cast<TGameListModel*>(model());
    if (games == nullptr || search.isEmpty())
        return;
    const bool extending = sinceTyped_.isValid() && sinceTyped_.elapsed() <= TypingPauseMs && !typed_.isEmpty();
    sinceTyped_.start();
    typed_ = extending ? typed_ + search : search;
    const int rows = count();
    if (rows == 0)
        return;
    // A longer text may still fit the game found so far; a new one looks from the next game on.
    const int current = currentRow();
    const int from = extending && current >= 0 ? current : (current + 1) % rows;
    const int found = games->FindByPrefix(FoldedForFind(typed_), from);
    if (found >= 0 && found != current) {
        setCurrentRow(found);
        scrollTo(currentIndex());
    }
}
