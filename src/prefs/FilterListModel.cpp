#include "prefs/FilterListModel.h"

#include <algorithm>

namespace tarn {

FilterListModel::FilterListModel(QObject* parent) : QAbstractListModel(parent) {}

int FilterListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : count();
}

QVariant FilterListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= count())
        return {};
    const Line& l = line(index.row());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        return l.text;
    case Qt::CheckStateRole:
        return l.checked ? Qt::Checked : Qt::Unchecked;
    default:
        return {};
    }
}

bool FilterListModel::setData(const QModelIndex& index, const QVariant& value, int role) {
    if (!index.isValid() || index.row() >= count() || role != Qt::CheckStateRole)
        return false;
    const bool checked = value.toInt() == Qt::Checked;
    setChecked(index.row(), checked);
    if (onCheckClicked)
        onCheckClicked(index.row(), checked);
    return true;
}

Qt::ItemFlags FilterListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemIsUserCheckable;
}

int FilterListModel::widestLine() const {
    int widest = 0;
    for (const Line& l : m_lines)
        widest = std::max(widest, l.width);
    return widest;
}

void FilterListModel::setLines(std::vector<Line> lines) {
    beginResetModel();
    m_lines = std::move(lines);
    endResetModel();
}

void FilterListModel::putLine(int row, Line line) {
    if (row < 0 || row > count())
        return;
    if (row == count()) {
        beginInsertRows({}, row, row);
        m_lines.push_back(std::move(line));
        endInsertRows();
        return;
    }
    m_lines[static_cast<std::size_t>(row)] = std::move(line);
    const QModelIndex i = index(row);
    emit dataChanged(i, i);
}

void FilterListModel::removeLine(int row) {
    if (row < 0 || row >= count())
        return;
    beginRemoveRows({}, row, row);
    m_lines.erase(m_lines.begin() + row);
    endRemoveRows();
}

void FilterListModel::setChecked(int row, bool checked) {
    if (row < 0 || row >= count())
        return;
    m_lines[static_cast<std::size_t>(row)].checked = checked;
    const QModelIndex i = index(row);
    emit dataChanged(i, i, {Qt::CheckStateRole});
}

} // namespace tarn
