#include "GameList.h"

#include "IniFiles.h"
#include "TypeToFind.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QStyledItemDelegate>

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
    idle_.setInterval(0);
    connect(&idle_, &QTimer::timeout, this, &TGameListModel::CheckSome);
}

void TGameListModel::Load(const TIniFile& settings)
{
    beginResetModel();
    idle_.stop();
    check_.reset();
    catalogue_.Load(settings);
    marks_.assign(static_cast<std::size_t>(catalogue_.Count()), TMark::Unchecked);
    endResetModel();
}

void TGameListModel::Recheck(std::unique_ptr<TRomCheck> check)
{
    check_ = std::move(check);
    marks_.assign(marks_.size(), TMark::Unchecked);
    nextInIdle_ = 0;
    idle_.start();
    // The view draws its rows again, which checks them first.
    if (!marks_.empty())
        emit dataChanged(index(0, 0), index(rowCount() - 1, columnCount() - 1), {Qt::DisplayRole, ShownTextRole});
}

bool TGameListModel::Available(int row) const
{
    TMark& mark = marks_[static_cast<std::size_t>(row)];
    if (mark == TMark::Unchecked)
        mark = check_ && check_->Available(catalogue_.Name(row)) ? TMark::Present : TMark::Missing;
    return mark == TMark::Present;
}

void TGameListModel::CheckSome()
{
    QElapsedTimer slice;
    slice.start();
    const int rows = rowCount();
    while (nextInIdle_ < rows) {
        Available(nextInIdle_++);
        if (nextInIdle_ % 32 == 0 && slice.elapsed() >= IdleSliceMs)
            return;
    }
    idle_.stop();
    emit CheckFinished();
}

int TGameListModel::FindByPrefix(std::u32string_view folded, int from) const
{
    const int rows = rowCount();
    for (int i = 0; i < rows; ++i) {
        const int row = (from + i) % rows;
        if (BeginsWithFolded(catalogue_.Description(row), folded))
            return row;
    }
    return -1;
}

QString TGameListModel::Description(int row, qsizetype limit) const
{
    const std::string_view text = CutUtf8(catalogue_.Description(row), static_cast<std::size_t>(limit));
    const QString plain = QString::fromUtf8(text.data(), static_cast<qsizetype>(text.size()));
    return Available(row) ? plain : MissingMark + plain;
}

int TGameListModel::rowCount(const QModelIndex& parent) const
{
    return parent.isValid() ? 0 : catalogue_.Count();
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
        const std::string_view name = catalogue_.Name(row);
        return QString::fromUtf8(name.data(), static_cast<qsizetype>(name.size()));
    }
    if (role == Qt::DisplayRole)
        return Description(row, std::numeric_limits<qsizetype>::max());
    if (role == ShownTextRole)
        // Four UTF-8 bytes at most per character.
        return Description(row, ShownCharacters * 4).left(ShownCharacters + MissingMark.size());
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
