#include "modalwatcher.h"

#include "modalcloser.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QTimer>

namespace {
constexpr int pollMs = 50;
} // namespace

ModalWatcher::ModalWatcher(int dwellMs, Inspector inspector, QObject *parent)
    : QObject(parent), mDwellMs(dwellMs), mInspector(std::move(inspector)),
      mTimerPoll(new QTimer(this))
{
    mTimerPoll->setInterval(pollMs);
    connect(mTimerPoll, &QTimer::timeout, this, &ModalWatcher::slot_mTimerPoll_timeout);
    mTimerPoll->start();
}

void ModalWatcher::slot_mTimerPoll_timeout()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    if (modal != mModal) {
        mModal = modal;
        mShownFor.start();
        return;
    }
    if (mShownFor.elapsed() < mDwellMs)
        return;
    mModal = nullptr;
    if (mInspector)
        mInspector(modal);
    close(modal);
}

void ModalWatcher::close(QWidget *modal)
{
    const QString seen = TestSupport::closeModal(modal);
    if (!seen.isNull())
        mSeen << seen;
}
