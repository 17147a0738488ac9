#include "clioutput.h"

#include "consolestream.h"
#include "protocol/modemtext.h"

#include <QIODevice>

namespace {
constexpr int progressWidth = 100; // a wrapped line would break the cursor arithmetic
const char eraseUp[] = "\x1b[%1F\x1b[J";
const char programPrefix[] = "lorta-flash-cli: ";

} // namespace

CliOutput::CliOutput(QIODevice *out, QIODevice *err, bool json, bool terminal)
    : mOut(out), mErr(err), mEvents(json ? err : out), mTerminal(terminal && !json)
{
}

bool CliOutput::openJournal(const QString &fileName, QString *error)
{
    return mJournal.open(fileName, error);
}

void CliOutput::setPorts(const QStringList &ports)
{
    mPorts = ports;
    mProgress = QVector<QString>(ports.size());
    for (const QString &port : ports)
        mPortWidth = qMax(mPortWidth, printable(port).size());
}

QString CliOutput::printable(const QString &text)
{
    return printableText(text);
}

QString CliOutput::eventLine(const QString &port, const QString &line)
{
    return printable(port) + QStringLiteral(" | ") + printable(line);
}

void CliOutput::event(const QString &port, const QString &line)
{
    const QByteArray text = (eventLine(port, line) + QLatin1Char('\n')).toUtf8();
    QString reason;
    if (mJournal.isOpen() && !mJournalFailed && !mJournal.append(text, &reason)) {
        // Said once, at once: every later line would fail the same way.
        mJournalFailed = true;
        const QString loss = QStringLiteral("не удалось записать журнал ") + mJournal.fileName() +
                             QStringLiteral(": ") + reason;
        mLosses << loss;
        put(mErr, (QLatin1String(programPrefix) + loss + QLatin1Char('\n')).toUtf8());
    }
    eraseProgress();
    put(mEvents, text);
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
    if (!mTerminal || !mDirty || mEvents->bytesToWrite() > 0)
        return;
    eraseProgress();
    drawProgress();
}

void CliOutput::clearProgress()
{
    eraseProgress();
    mDirty = false;
}

void CliOutput::results(const QByteArray &bytes)
{
    put(mOut, bytes);
}

void CliOutput::error(const QString &text)
{
    put(mErr, (text + QLatin1Char('\n')).toUtf8());
}

bool CliOutput::finish(int waitMs)
{
    for (QIODevice *device : {mOut, mErr}) {
        auto *console = qobject_cast<ConsoleStream *>(device);
        if (console && !console->waitForBytesWritten(waitMs))
            noteLoss(device, console->lost() ? console->lostReason()
                                             : QStringLiteral("читатель не принимает вывод"));
    }
    if (mLosses.isEmpty())
        return true;
    QByteArray report;
    for (const QString &loss : qAsConst(mLosses))
        report += (QLatin1String(programPrefix) + loss + QLatin1Char('\n')).toUtf8();
    if (mJournal.isOpen() && !mJournalFailed) {
        QString reason;
        mJournal.append(report, &reason);
    }
    QIODevice *remaining = !mLostDevices.contains(mErr) ? mErr : mOut;
    if (!mLostDevices.contains(remaining)) {
        remaining->write(report);
        if (auto *console = qobject_cast<ConsoleStream *>(remaining))
            console->waitForBytesWritten(waitMs);
    }
    return false;
}

void CliOutput::put(QIODevice *device, const QByteArray &bytes)
{
    if (mLostDevices.contains(device))
        return;
    if (device->write(bytes) != bytes.size()) {
        auto *console = qobject_cast<ConsoleStream *>(device);
        noteLoss(device, console && console->lost() ? console->lostReason()
                                                    : QStringLiteral("запись не удалась"));
    }
}

void CliOutput::noteLoss(QIODevice *device, const QString &reason)
{
    if (mLostDevices.contains(device))
        return;
    mLostDevices << device;
    mLosses << QStringLiteral("часть вывода потеряна (%1): %2").arg(streamName(device), reason);
}

QString CliOutput::streamName(const QIODevice *device) const
{
    return device == mOut ? QStringLiteral("стандартный вывод")
                          : QStringLiteral("стандартный вывод ошибок");
}

void CliOutput::eraseProgress()
{
    if (mDrawnLines > 0)
        put(mEvents, QString::fromLatin1(eraseUp).arg(mDrawnLines).toUtf8());
    mDrawnLines = 0;
}

void CliOutput::drawProgress()
{
    QString block;
    for (int i = 0; i < mPorts.size(); ++i) {
        const QString line = QStringLiteral("  ") +
                             printable(mPorts.at(i)).leftJustified(mPortWidth) +
                             QStringLiteral("  ") + printable(mProgress.at(i));
        block += line.left(progressWidth) + QLatin1Char('\n');
    }
    put(mEvents, block.toUtf8());
    mDrawnLines = mPorts.size();
    mDirty = false;
}

QString CliOutput::columns(const QList<QStringList> &rows)
{
    QVector<int> widths;
    for (const QStringList &row : rows) {
        widths.resize(qMax(widths.size(), row.size() - 1));
        for (int i = 0; i + 1 < row.size(); ++i)
            widths[i] = qMax(widths[i], row.at(i).size());
    }
    QString table;
    for (const QStringList &row : rows) {
        QString line;
        for (int i = 0; i + 1 < row.size(); ++i)
            line += row.at(i).leftJustified(widths.at(i)) + QStringLiteral("  ");
        if (!row.isEmpty())
            line += row.last();
        // No trailing blanks where the last column is empty.
        while (line.endsWith(QLatin1Char(' ')))
            line.chop(1);
        table += line + QLatin1Char('\n');
    }
    return table;
}
