#include "modalcloser.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

namespace TestSupport {

QString closeModal(QWidget *modal)
{
    if (auto *box = qobject_cast<QMessageBox *>(modal)) {
        const QString seen = box->windowTitle() + QLatin1Char('|') + box->text();
        box->done(QMessageBox::Ok);
        return seen;
    }
    if (auto *dialog = qobject_cast<QDialog *>(modal)) {
        const QString seen = dialog->windowTitle() + QLatin1Char('|');
        dialog->reject();
        return seen;
    }
    return QString();
}

ModalCloser::ModalCloser(int pollMs)
{
    mTimer.setInterval(pollMs);
    QObject::connect(&mTimer, &QTimer::timeout, &mTimer, [this] { onTick(); });
    mTimer.start();
}

void ModalCloser::onTick()
{
    QWidget *modal = QApplication::activeModalWidget();
    if (!modal)
        return;
    if (modal != mModal) {
        mModal = modal;
        mShownFor.start();
    }
    if (mShownFor.elapsed() < mDwellMs || (mInspector && !mInspector(modal)))
        return;
    mModal = nullptr;
    const QString seen = closeModal(modal);
    if (!seen.isNull())
        mSeen << seen;
}

} // namespace TestSupport
