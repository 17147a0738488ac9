#pragma once

#include "protocol/timing.h"

#include <QWidget>

class QSortFilterProxyModel;
class QTableView;
class QTimer;
class ShiftChart;
class ShiftModel;
class WatchRun;

// The shift at a glance: today's results per socket in a table sorted by any
// column, and the successes and failures per hour beside it. It follows a
// watch from its start (the journal's lines of today first, so a bench
// restarted at noon shows its morning) and keeps what it shows once the
// watch has ended.
class ShiftPanel : public QWidget
{
    Q_OBJECT

public:
    // refresh: how often the chart's hours follow the clock without a new record.
    explicit ShiftPanel(Timing::Ms refresh, QWidget *parent = nullptr);

    void setRun(WatchRun *run);
    ShiftModel *model() const { return mModel; }
    ShiftChart *chart() const { return mChart; }
    QTableView *table() const { return mViewTable; }

private:
    void slot_mModel_signal_changed();

    ShiftModel *mModel;
    QSortFilterProxyModel *mProxySort;
    QTableView *mViewTable;
    ShiftChart *mChart;
    QTimer *mTimerRefresh;
};
