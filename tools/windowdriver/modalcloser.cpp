#include "modalcloser.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>

namespace TestSupport {

ModalCloser::ModalCloser(int pollMs)
{
    mTimer.setInterval(pollMs);
    QObject::connect(&mTimer, &QTimer::timeout, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || (mInspector && !mInspector(modal)))
            return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            mSeen << box->windowTitle() + QLatin1Char('|') + box->text();
            box->done(QMessageBox::Ok);
        } else if (auto *dialog = qobject_cast<QDialog *>(modal)) {
            mSeen << dialog->windowTitle() + QLatin1Char('|');
            dialog->reject();
        }
    });
    mTimer.start();
}

} // namespace TestSupport
