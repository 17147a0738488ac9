#include "clioutput.h"

#include <QIODevice>

namespace {
constexpr int progressWidth = 100; // a wrapped line would break the cursor arithmetic
const char eraseUp[] = "\x1b[%1F\x1b[J";
} // namespace

CliOutput::CliOutput(QIODevice *events, bool terminal) : mEvents(events), mTerminal(terminal) {}

bool CliOutput::openJournal(const QString &fileName, QString *error)
{
    mJournal.setFileName(fileName);
    if (mJournal.open(QIODevice::WriteOnly | QIODevice::Append | QIODevice::Unbuffered))
        return true;
    *error = QStringLiteral("Не удалось открыть журнал ") + fileName + QStringLiteral(": ") +
             mJournal.errorString();
    return false;
}

void CliOutput::setPorts(const QStringList &ports)
{
    mPorts = ports;
    mProgress = QVector<QString>(ports.size());
    for (const QString &port : ports)
        mPortWidth = qMax(mPortWidth, port.size());
}

QString CliOutput::eventLine(const QString &port, const QString &line)
{
    return port + QStringLiteral(" | ") + line;
}

void CliOutput::event(const QString &port, const QString &line)
{
    const QString text = eventLine(port, line) + QLatin1Char('\n');
    if (mJournal.isOpen())
        mJournal.write(text.toUtf8());
    eraseProgress();
    write(text);
    mDirty = true;
}

void CliOutput::setProgress(int index, const QString &text)
{
    if (index < 0 || index >= mProgress.size() || mProgress.at(index) == text)
        return;
    mProgress[index] = text;
    mDirty = true;
}

void CliOutput::redraw()
{
    if (!mTerminal || !mDirty)
        return;
    eraseProgress();
    drawProgress();
}

void CliOutput::clearProgress()
{
    eraseProgress();
    mDirty = false;
}

void CliOutput::write(const QString &text)
{
    mEvents->write(text.toUtf8());
}

void CliOutput::eraseProgress()
{
    if (mDrawnLines > 0)
        write(QString::fromLatin1(eraseUp).arg(mDrawnLines));
    mDrawnLines = 0;
}

void CliOutput::drawProgress()
{
    QString block;
    for (int i = 0; i < mPorts.size(); ++i) {
        const QString line = QStringLiteral("  ") + mPorts.at(i).leftJustified(mPortWidth) +
                             QStringLiteral("  ") + mProgress.at(i);
        block += line.left(progressWidth) + QLatin1Char('\n');
    }
    write(block);
    mDrawnLines = mPorts.size();
    mDirty = false;
}
