#pragma once

#include "shiftsummary.h"

#include <QAbstractTableModel>
#include <QDateTime>
#include <functional>

// Today's shift as a table, one row per socket that has records today: its
// successes, failures, modems found already flashed and its last failure
// with the time. SortRole gives each cell's value as numbers and times, so
// a sort proxy orders them as such. The day follows the clock: the first
// record or refresh of a new day empties the table.
class ShiftModel : public QAbstractTableModel
{
    Q_OBJECT

public:
    using Clock = std::function<QDateTime()>;

    enum Column
    {
        SocketColumn,
        SucceededColumn,
        FailedColumn,
        AlreadyFlashedColumn,
        LastFailureTimeColumn,
        LastFailureColumn, // last: a long reason takes the rest of the row
        ColumnCount
    };
    enum Role
    {
        SortRole = Qt::UserRole + 1
    };

    explicit ShiftModel(QObject *parent = nullptr);
    void setClock(Clock clock) { mClock = std::move(clock); }
    QDateTime now() const { return mClock(); }

    // Starts over from these records (today's are kept, others left out).
    void setRecords(const QList<JournalRecord> &records);
    void addRecord(const JournalRecord &record);
    // A new day empties the table; the chart's hours follow the clock.
    void refresh();
    const ShiftSummary &summary() const { return mSummary; }
    QVector<ShiftSummary::Hour> hours() const { return mSummary.hours(mClock()); }

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

signals:
    // The summary changed: the chart draws it again.
    void signal_changed();

private:
    void reset(const ShiftSummary &summary);
    QVariant cell(const ShiftSummary::Socket &socket, int column, bool forSorting) const;

    Clock mClock;
    ShiftSummary mSummary;
    QList<ShiftSummary::Socket> mRows;
};
