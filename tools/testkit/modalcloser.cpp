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
    QObject::connect(&mTimer, &QTimer::timeout, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal || (mInspector && !mInspector(modal)))
            return;
        const QString seen = closeModal(modal);
        if (!seen.isNull())
            mSeen << seen;
    });
    mTimer.start();
}

} // namespace TestSupport
