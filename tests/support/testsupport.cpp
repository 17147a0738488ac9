#include "testsupport.h"

#include <QApplication>
#include <QDialog>
#include <QMessageBox>
#include <QStringList>
#include <QTimer>

namespace TestSupport {

struct ModalCloser::Private
{
    QTimer timer;
    QStringList seen;
    std::function<bool(QWidget *)> inspector;
    bool closeDialogs = true;
};

ModalCloser::ModalCloser(int pollMs) : d(new Private)
{
    d->timer.setInterval(pollMs);
    QObject::connect(&d->timer, &QTimer::timeout, [this] {
        QWidget *modal = QApplication::activeModalWidget();
        if (!modal)
            return;
        if (d->inspector && !d->inspector(modal))
            return;
        if (auto *box = qobject_cast<QMessageBox *>(modal)) {
            d->seen << box->windowTitle() + QLatin1Char('|') + box->text();
            box->done(QMessageBox::Ok);
        } else if (auto *dialog = qobject_cast<QDialog *>(modal); dialog && d->closeDialogs) {
            d->seen << dialog->windowTitle() + QLatin1Char('|');
            dialog->reject();
        }
    });
    d->timer.start();
}

ModalCloser::~ModalCloser()
{
    delete d;
}

QStringList ModalCloser::seen() const
{
    return d->seen;
}

void ModalCloser::setInspector(std::function<bool(QWidget *)> inspector)
{
    d->inspector = std::move(inspector);
}

void ModalCloser::setCloseDialogs(bool close)
{
    d->closeDialogs = close;
}

} // namespace TestSupport
