#include "modembench.h"

#include "modalcloser.h"
#include "modemsim.h"
#include "testtiming.h"
#include "ui/mainwindow.h"
#include "windowdriver.h"

#include <QDir>
#include <QFile>

namespace TestSupport {

ModemBench::ModemBench(int timeScale)
    : mTimeScale(timeScale), mOldDir(QDir::currentPath()), mSim(std::make_unique<ModemSim>())
{
    mSim->setTimeScale(timeScale);
    QDir::setCurrent(mDir.path());
}

ModemBench::~ModemBench()
{
    destroyWindow();
    mSim.reset();
    QDir::setCurrent(mOldDir);
}

bool ModemBench::start(QString *error)
{
    if (!mDir.isValid() || !mSim->start(error))
        return false;
    showWindow();
    return true;
}

void ModemBench::showWindow()
{
    const QString port = mSim->portName();
    mWindow = std::make_unique<MainWindow>(
        [port] { return QStringList{port}; },
        Timing().scaled(mTimeScale).withAnswersAtLeast(leastFastAnswer));
    mWindow->show();
    mUi = std::make_unique<WindowDriver>(mWindow.get());
}

void ModemBench::destroyWindow()
{
    mUi.reset();
    mWindow.reset();
}

QByteArray readFile(const QString &name)
{
    QFile file(name);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

bool writeFile(const QString &name, const QByteArray &bytes)
{
    QFile file(name);
    return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size() && file.flush();
}

QString trace(const ModemSim &sim, const WindowDriver &ui, const ModalCloser &closer)
{
    QStringList commands;
    const QList<QByteArray> received = sim.commands();
    for (const QByteArray &command : received)
        commands << QString::fromLatin1(command);
    return QStringLiteral("commands: ") + commands.join(QLatin1Char(' ')) +
           QStringLiteral("\nlog: ") + ui.logLines().join(QLatin1Char('|')) +
           QStringLiteral("\nboxes: ") + closer.seen().join(QLatin1Char('|'));
}

} // namespace TestSupport
