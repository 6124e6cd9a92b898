#pragma once

#include <QAbstractListModel>
#include <QString>

#include <functional>
#include <vector>

namespace tarn {

// The lines of the filter list: one line per filter of the table, its text and its check box.
// The page keeps line i describing filter i; the model only holds what the view shows and
// reports a check box the user clicked.
class FilterListModel : public QAbstractListModel {
    Q_OBJECT
public:
    struct Line {
        QString text;
        int width = 0; // text width in the list's font, measured once
        bool checked = false;
    };

    explicit FilterListModel(QObject* parent = nullptr);

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role) const override;
    bool setData(const QModelIndex& index, const QVariant& value, int role) override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    int count() const { return static_cast<int>(m_lines.size()); }
    const Line& line(int row) const { return m_lines.at(static_cast<std::size_t>(row)); }
    // The widest line, 0 when there are none.
    int widestLine() const;

    void setLines(std::vector<Line> lines);
    // Replaces line row, or appends when row equals the number of lines.
    void putLine(int row, Line line);
    void removeLine(int row);
    void setChecked(int row, bool checked);

    // Called after the user ticked or unticked line row (not for setChecked).
    std::function<void(int row, bool checked)> onCheckClicked;

private:
    std::vector<Line> m_lines;
};

} // namespace tarn
