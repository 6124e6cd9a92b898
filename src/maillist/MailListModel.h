#pragma once

#include "store/MailListRows.h"

#include <QAbstractTableModel>
#include <QColor>
#include <QIcon>
#include <QStringList>

#include <array>

namespace tarn {

// The mail list's rows for ListView1. The rows are a compact copy made while the MailDB lock
// is held; the texts of a row are made only when the view asks for them.
class MailListModel : public QAbstractTableModel {
    Q_OBJECT
public:
    // Column tags in their fixed order: Subject, Sender, Size, Account, Action, Date, UID.
    static constexpr std::array<int, 7> Tags = {1, 2, 3, 4, 99, 5, 6};
    static int columnOf(int tag);
    static int tagOf(int column);

    explicit MailListModel(QObject* parent = nullptr);

    // Replaces the rows. names[k - 1] is the name of account k; today is local midnight as a
    // whole day number.
    void reset(MailListRows rows, QStringList accountNames, double today);
    const MailListRows& rows() const { return m_rows; }

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    int columnCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;

    // The text of a cell by the column's tag.
    QString cellText(int row, int tag) const;
    int rowIcon(int row) const;
    QString accountName(int account) const;

private:
    MailListRows m_rows;
    QStringList m_names;
    double m_today = 0;
};

} // namespace tarn
