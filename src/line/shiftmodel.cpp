#include "shiftmodel.h"

#include <algorithm>

ShiftModel::ShiftModel(QObject *parent)
    : QAbstractTableModel(parent), mClock(&QDateTime::currentDateTime),
      mSummary(QDate::currentDate())
{
}

void ShiftModel::setRecords(const QList<JournalRecord> &records)
{
    reset(ShiftSummary::of(records, mClock()));
}

// A record changes one row, or adds one: the operator's selection and the
// table's scrolling stay as they are while the bench works.
void ShiftModel::addRecord(const JournalRecord &record)
{
    if (record.time.date() > mSummary.day())
        reset(ShiftSummary(record.time.date()));
    if (!mSummary.count(record))
        return;
    const ShiftSummary::Socket socket = mSummary.socket(record.socket);
    const auto found = std::find_if(mRows.begin(), mRows.end(), [&socket](const auto &row) {
        return row.number == socket.number;
    });
    if (found == mRows.end()) {
        beginInsertRows(QModelIndex(), mRows.size(), mRows.size());
        mRows.append(socket);
        endInsertRows();
    } else {
        *found = socket;
        const int row = int(found - mRows.begin());
        emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
    }
    emit signal_changed();
}

void ShiftModel::refresh()
{
    const QDate today = mClock().date();
    if (today != mSummary.day())
        reset(ShiftSummary(today));
    else
        emit signal_changed(); // the current hour may have turned
}

void ShiftModel::reset(const ShiftSummary &summary)
{
    beginResetModel();
    mSummary = summary;
    mRows = mSummary.sockets();
    endResetModel();
    emit signal_changed();
}

int ShiftModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : mRows.size();
}

int ShiftModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ShiftModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= mRows.size())
        return QVariant();
    const ShiftSummary::Socket &socket = mRows.at(index.row());
    if (role == Qt::DisplayRole)
        return cell(socket, index.column(), false);
    if (role == SortRole)
        return cell(socket, index.column(), true);
    if (role == Qt::ToolTipRole && index.column() == LastFailureColumn)
        return socket.lastFailure; // a long reason is cut in its cell
    if (role == Qt::TextAlignmentRole && index.column() != LastFailureColumn)
        return int(Qt::AlignRight | Qt::AlignVCenter);
    return QVariant();
}

QVariant ShiftModel::cell(const ShiftSummary::Socket &socket, int column, bool forSorting) const
{
    switch (column) {
    case SocketColumn:
        return socket.number;
    case SucceededColumn:
        return socket.counters.succeeded;
    case FailedColumn:
        return socket.counters.failed;
    case AlreadyFlashedColumn:
        return socket.counters.alreadyFlashed;
    case LastFailureColumn:
        return socket.lastFailure;
    case LastFailureTimeColumn:
        if (forSorting)
            return socket.lastFailureTime;
        return socket.lastFailureTime.isValid()
                   ? socket.lastFailureTime.toString(QStringLiteral("hh:mm"))
                   : QString();
    default:
        return QVariant();
    }
}

QVariant ShiftModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation == Qt::Horizontal && role == Qt::ToolTipRole &&
        section == LastFailureTimeColumn)
        return QStringLiteral("Время последней ошибки");
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    switch (section) {
    case SocketColumn:
        return QStringLiteral("Гнездо");
    case SucceededColumn:
        return QStringLiteral("Успешно");
    case FailedColumn:
        return QStringLiteral("Ошибки");
    case AlreadyFlashedColumn:
        return QStringLiteral("Уже прошиты");
    case LastFailureColumn:
        return QStringLiteral("Последняя ошибка");
    case LastFailureTimeColumn:
        return QStringLiteral("Время");
    default:
        return QVariant();
    }
}
