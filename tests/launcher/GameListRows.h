// A game list row as the user reads it: the text of the column the list shows.
#pragma once

#include <QAbstractItemModel>
#include <QListView>

inline QString RowText(const QListView& list, int row)
{
    return list.model()->index(row, list.modelColumn()).data().toString();
}
