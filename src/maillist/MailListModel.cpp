#include "maillist/MailListModel.h"

#include "checker/UiText.h"
#include "maillist/MailListIcons.h"
#include "maillist/MailListRules.h"

namespace tarn {

int MailListModel::columnOf(int tag) {
    for (std::size_t i = 0; i < Tags.size(); ++i) {
        if (Tags[i] == tag)
            return static_cast<int>(i);
    }
    return -1;
}

int MailListModel::tagOf(int column) {
    return column >= 0 && column < static_cast<int>(Tags.size())
               ? Tags[static_cast<std::size_t>(column)]
               : 0;
}

MailListModel::MailListModel(QObject* parent) : QAbstractTableModel(parent) {}

void MailListModel::reset(MailListRows rows, QStringList accountNames, double today) {
    beginResetModel();
    m_rows.swap(rows);
    m_names = std::move(accountNames);
    m_today = today;
    endResetModel();
    // The old rows are freed here, after the view has let go of them.
}

int MailListModel::rowCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(m_rows.size());
}

int MailListModel::columnCount(const QModelIndex& parent) const {
    return parent.isValid() ? 0 : static_cast<int>(Tags.size());
}

QString MailListModel::accountName(int account) const {
    return account >= 1 && account <= m_names.size() ? m_names[account - 1] : QString();
}

int MailListModel::rowIcon(int row) const {
    return m_rows.icon(static_cast<std::size_t>(row));
}

QString MailListModel::cellText(int row, int tag) const {
    const std::size_t i = static_cast<std::size_t>(row);
    const MailListRows::Row r = m_rows.row(i);
    switch (tag) {
    case maillist::TagSubject:
        return uiText(m_rows.subject(i));
    case maillist::TagSender:
        return uiText(m_rows.sender(i));
    case maillist::TagSize:
        return QString::fromStdString(maillist::sizeText(r.size));
    case maillist::TagAccount:
        return accountName(r.account);
    case maillist::TagAction:
        return QString::fromLatin1(maillist::actionText(m_rows.deleting(i), m_rows.retrieving(i)));
    case maillist::TagDate:
        return QString::fromStdString(maillist::dateText(r.date, m_today));
    case maillist::TagUID:
        return uiText(m_rows.uid(i));
    default:
        return QString();
    }
}

QVariant MailListModel::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.row() >= rowCount())
        return QVariant();
    const int tag = tagOf(index.column());
    switch (role) {
    case Qt::DisplayRole:
    case Qt::ToolTipRole:
    case Qt::AccessibleTextRole:
        // The texts that may be cut at their column's width: subject, sender, account name
        // and action.
        if (role == Qt::ToolTipRole && tag != maillist::TagSubject && tag != maillist::TagSender &&
            tag != maillist::TagAccount && tag != maillist::TagAction)
            return QVariant();
        return cellText(index.row(), tag);
    case Qt::DecorationRole:
        if (tag == maillist::TagSubject)
            return MailListIcons::rowIcon(rowIcon(index.row()));
        return QVariant();
    case Qt::ForegroundRole:
        if (maillist::rowIsGrey(rowIcon(index.row())))
            return QColor(128, 128, 128);
        return QVariant();
    case Qt::TextAlignmentRole:
        if (tag == maillist::TagSize)
            return QVariant(Qt::AlignRight | Qt::AlignVCenter);
        return QVariant();
    default:
        return QVariant();
    }
}

QVariant MailListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal)
        return QVariant();
    const int tag = tagOf(section);
    if (role == Qt::DisplayRole) {
        switch (tag) {
        case maillist::TagSubject:
            return QStringLiteral("Subject");
        case maillist::TagSender:
            return QStringLiteral("Sender");
        case maillist::TagSize:
            return QStringLiteral("Size");
        case maillist::TagAccount:
            return QStringLiteral("Account");
        case maillist::TagAction:
            return QStringLiteral("Action");
        case maillist::TagDate:
            return QStringLiteral("Date");
        case maillist::TagUID:
            return QStringLiteral("UID");
        default:
            return QVariant();
        }
    }
    if (role == Qt::TextAlignmentRole && tag == maillist::TagSize)
        return QVariant(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
}

Qt::ItemFlags MailListModel::flags(const QModelIndex& index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

} // namespace tarn
