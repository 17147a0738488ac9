#include "shiftpanel.h"

#include "line/shiftmodel.h"
#include "line/watchrun.h"
#include "shiftchart.h"

#include <QHBoxLayout>
#include <QHeaderView>
#include <QSortFilterProxyModel>
#include <QSplitter>
#include <QTableView>
#include <QTimer>

namespace {
constexpr int tableShare = 1000; // splitter sizes in proportion, scaled to the panel
} // namespace

ShiftPanel::ShiftPanel(Timing::Ms refresh, QWidget *parent)
    : QWidget(parent), mModel(new ShiftModel(this)), mProxySort(new QSortFilterProxyModel(this)),
      mTimerRefresh(new QTimer(this))
{
    setObjectName(QStringLiteral("panelShift"));
    auto *layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    auto *splitter = new QSplitter(Qt::Horizontal, this);
    mProxySort->setSourceModel(mModel);
    mProxySort->setSortRole(ShiftModel::SortRole);
    mViewTable = new QTableView(splitter);
    mViewTable->setObjectName(QStringLiteral("tableShift"));
    mViewTable->setModel(mProxySort);
    mViewTable->setSortingEnabled(true);
    mViewTable->sortByColumn(ShiftModel::SocketColumn, Qt::AscendingOrder);
    mViewTable->setSelectionBehavior(QAbstractItemView::SelectRows);
    mViewTable->setEditTriggers(QAbstractItemView::NoEditTriggers);
    mViewTable->verticalHeader()->hide();
    mViewTable->horizontalHeader()->setSectionResizeMode(QHeaderView::ResizeToContents);
    mViewTable->horizontalHeader()->setStretchLastSection(true);
    mChart = new ShiftChart(splitter);
    // The table's reasons need the room more than the bars do.
    splitter->setStretchFactor(0, 3);
    splitter->setStretchFactor(1, 2);
    splitter->setSizes({3 * tableShare, 2 * tableShare});
    layout->addWidget(splitter);

    connect(mModel, &ShiftModel::signal_changed, this, &ShiftPanel::slot_mModel_signal_changed);
    mTimerRefresh->setInterval(refresh);
    connect(mTimerRefresh, &QTimer::timeout, mModel, &ShiftModel::refresh);
    mTimerRefresh->start();
    slot_mModel_signal_changed();
}

void ShiftPanel::setRun(WatchRun *run)
{
    if (!run)
        return;
    mModel->setRecords(run->todaysRecords());
    connect(run, &WatchRun::signal_recordWritten, mModel, &ShiftModel::addRecord);
}

void ShiftPanel::slot_mModel_signal_changed()
{
    mChart->setHours(mModel->hours());
}
