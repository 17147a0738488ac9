#include "socketmodel.h"

#include "log/logcomposer.h"
#include "sockettexts.h"
#include "watchrun.h"

#include <QDateTime>
#include <algorithm>

namespace {
QString hexId(quint16 id)
{
    return QStringLiteral("%1").arg(id, 4, 16, QLatin1Char('0'));
}

QString idsText(const PortEntry &port)
{
    return port.hasIds ? hexId(port.vendorId) + QLatin1Char(':') + hexId(port.productId)
                       : QString();
}

QString adapterText(const PortEntry &port)
{
    QString text = idsText(port);
    if (!port.serialNumber.isEmpty())
        text += (text.isEmpty() ? QString() : QStringLiteral(" ")) + port.serialNumber;
    return text;
}

QString kib(qint64 bytes)
{
    return QString::number(bytes / 1024.0, 'f', 1);
}

QString durationText(double seconds)
{
    const int whole = qRound(seconds);
    return QStringLiteral("%1:%2").arg(whole / 60).arg(whole % 60, 2, 10, QLatin1Char('0'));
}

} // namespace

SocketModel::SocketModel(QObject *parent) : QAbstractTableModel(parent) {}

void SocketModel::setRun(WatchRun *run, const QString &jobTitle)
{
    if (mRun)
        disconnect(mRun, nullptr, this, nullptr);
    beginResetModel();
    mRun = run;
    mJobTitle = jobTitle;
    mRows.clear();
    mStopping = false;
    mCounters = LineCounters();
    endResetModel();
    emit signal_countersChanged();
    if (!run)
        return;
    connect(run, &WatchRun::signal_socketAdded, this, &SocketModel::slot_run_signal_socketAdded);
    connect(run, &WatchRun::signal_socketRenumbered, this,
            &SocketModel::slot_run_signal_socketRenumbered);
    connect(run, &WatchRun::signal_socketChanged, this,
            &SocketModel::slot_run_signal_socketChanged);
    connect(run, &WatchRun::signal_event, this, &SocketModel::slot_run_signal_event);
    connect(run, &WatchRun::signal_logLine, this, &SocketModel::appendLog);
    connect(run, &WatchRun::signal_jobEnded, this, &SocketModel::slot_run_signal_jobEnded);
    connect(run, &WatchRun::signal_duplicate, this, &SocketModel::warn);
    // The tile keeps what the journal did not take.
    connect(run, &WatchRun::signal_recordUnwritten, this,
            [this](const JournalRecord &record, const QByteArray &, const QString &reason) {
                warn(record.socket, QStringLiteral("Не записано в журнал: ") + reason);
            });
}

void SocketModel::warn(int number, const QString &warning)
{
    const int row = rowOf(number);
    if (row < 0)
        return;
    mRows[row].warning = warning;
    changed(row);
}

void SocketModel::setStopping(bool stopping)
{
    mStopping = stopping;
    for (int row = 0; row < mRows.size(); ++row) {
        refresh(mRows[row]);
        changed(row);
    }
}

int SocketModel::rowCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : mRows.size();
}

int SocketModel::columnCount(const QModelIndex &parent) const
{
    return parent.isValid() ? 0 : ColumnCount;
}

int SocketModel::rowOf(int number) const
{
    for (int row = 0; row < mRows.size(); ++row) {
        if (mRows.at(row).number == number)
            return row;
    }
    return -1;
}

QStringList SocketModel::logLines(int row) const
{
    return row >= 0 && row < mRows.size() ? mRows.at(row).log : QStringList();
}

QString SocketModel::countersText() const
{
    const QString perHour = mRun ? mRun->modemsPerHourText() : QStringLiteral("—");
    return QStringLiteral("Успешно: %1    Ошибок: %2    Уже прошиты: %3    Модемов в час: %4")
        .arg(mCounters.succeeded)
        .arg(mCounters.failed)
        .arg(mCounters.alreadyFlashed)
        .arg(perHour);
}

void SocketModel::startCountersFrom(const QList<JournalRecord> &records)
{
    mCounters = LineCounters();
    for (const JournalRecord &record : records)
        mCounters.count(record);
    emit signal_countersChanged();
}

// Sockets are shown in their numbers' order, whatever order they appear in.
void SocketModel::slot_run_signal_socketAdded(int number)
{
    int row = 0;
    while (row < mRows.size() && mRows.at(row).number < number)
        ++row;
    beginInsertRows(QModelIndex(), row, row);
    Row added;
    added.number = number;
    mRows.insert(row, added);
    endInsertRows();
    refresh(mRows[row]);
}

// The tile moves to its new number's place.
void SocketModel::slot_run_signal_socketRenumbered(int from, int to)
{
    const int row = rowOf(from);
    if (row < 0)
        return;
    emit layoutAboutToBeChanged();
    const QModelIndexList before = persistentIndexList();
    QList<int> numbers;
    for (const QModelIndex &index : before)
        numbers << mRows.at(index.row()).number;
    mRows[row].number = to;
    std::stable_sort(mRows.begin(), mRows.end(),
                     [](const Row &a, const Row &b) { return a.number < b.number; });
    QModelIndexList after;
    for (int i = 0; i < before.size(); ++i) {
        const int number = numbers.at(i) == from ? to : numbers.at(i);
        after << index(rowOf(number), before.at(i).column());
    }
    changePersistentIndexList(before, after);
    emit layoutChanged();
}

void SocketModel::slot_run_signal_socketChanged(int number)
{
    const int row = rowOf(number);
    if (row < 0)
        return;
    refresh(mRows[row]);
    changed(row);
}

// An open failure's hint stays on the tile until the adapter is pulled.
void SocketModel::slot_run_signal_event(int number, const QString &port, const QString &text)
{
    Q_UNUSED(port)
    const int row = rowOf(number);
    if (row < 0)
        return;
    const SocketRun *socket = mRun ? mRun->sockets().value(number) : nullptr;
    if (socket && socket->state() == SocketRun::State::OpenFailed) {
        mRows[row].hint = text;
        refresh(mRows[row]);
        changed(row);
    }
    appendLog(number, LogComposer::stamp(QDateTime::currentDateTime()) + text);
}

void SocketModel::slot_run_signal_jobEnded(const JournalRecord &record)
{
    mCounters.count(record);
    emit signal_countersChanged();
    const int row = rowOf(record.socket);
    if (row < 0)
        return;
    Row &shown = mRows[row];
    shown.verdict = SocketText::verdict(record);
    shown.tone = record.result == JournalRecord::Result::Success ? Good : Bad;
    shown.seconds = record.seconds;
    shown.result = record.result;
    // A port that did not open keeps showing its state and the hint's reason.
    shown.verdictKept = record.result != JournalRecord::Result::OpenFailed;
    shown.unplugVerdict = record.result == JournalRecord::Result::Unplugged;
    refresh(shown);
    changed(row);
}

SocketModel::Verdict SocketModel::verdictOf(JournalRecord::Result result)
{
    switch (result) {
    case JournalRecord::Result::Success:
        return Done;
    case JournalRecord::Result::Failure:
        return Rejected;
    case JournalRecord::Result::Interrupted:
        return Interrupted;
    case JournalRecord::Result::Unplugged:
        return Unplugged;
    case JournalRecord::Result::OpenFailed:
        return NoPort;
    case JournalRecord::Result::NoAnswer:
        return NoAnswer;
    case JournalRecord::Result::AlreadyFlashed:
        return AlreadyFlashed;
    case JournalRecord::Result::SocketDisabled:
        return OutOfService;
    case JournalRecord::Result::NoTableRow:
        return NoTableRow;
    }
    return Rejected;
}

// What the tile says follows from the socket's state and the last verdict: a
// verdict stands while its modem is still in (or, for a pulled modem, until
// the next one comes), so the operator sees it from across the bench.
void SocketModel::refresh(Row &row)
{
    const SocketRun *socket = mRun ? mRun->sockets().value(row.number) : nullptr;
    if (!socket)
        return;
    const SocketRun::State state = socket->state();
    const bool plugged = state != SocketRun::State::Empty;
    // A socket that has moved on to another modem (or to none) has no verdict to keep.
    if (state == SocketRun::State::Opening || (!plugged && !row.unplugVerdict) ||
        (plugged && socket->verdict().isEmpty()) || socket->flashedHere()) {
        row.verdictKept = false;
        row.unplugVerdict = false;
        row.warning.clear();
    }
    if (!plugged || state == SocketRun::State::Opening)
        row.hint.clear();
    if (plugged) {
        row.port = socket->port().name;
        row.adapter = adapterText(socket->port());
        row.ids = idsText(socket->port());
    }
    // A grey tile names no modem: the IMEI goes with the modem, unless its pull is the verdict.
    row.imei = plugged || row.unplugVerdict ? socket->imei() : QString();
    row.step = socket->step();
    row.progress = state == SocketRun::State::Running ? socket->progress() : -1;
    row.detail.clear();
    if (row.verdictKept) {
        row.kind = verdictOf(row.result);
        row.state = row.verdict;
        if (row.tone == Good)
            row.detail = QStringLiteral("за ") + durationText(row.seconds);
        return;
    }
    row.seconds = -1;
    if (socket->outOfService()) {
        row.kind = OutOfService;
        row.tone = Bad;
        row.state = socket->verdict();
        return;
    }
    switch (state) {
    case SocketRun::State::Empty:
    case SocketRun::State::Closing:
        row.kind = Waiting;
        row.tone = Idle;
        row.state = mStopping ? SocketText::stopped() : SocketText::waiting();
        return;
    // Grey until the modem answers: an adapter without a modem, or with one
    // still starting, needs the operator, not patience.
    case SocketRun::State::Opening:
    case SocketRun::State::Waiting:
        row.kind = Waiting;
        row.tone = Idle;
        // A modem that talks but does not answer says so.
        row.state =
            state == SocketRun::State::Waiting ? socket->stateText() : SocketText::waiting();
        return;
    case SocketRun::State::Identifying:
        row.kind = Working;
        row.tone = Busy;
        row.state = SocketText::identifying();
        row.detail = socket->waitingText();
        return;
    case SocketRun::State::OpenFailed:
        row.kind = NoPort;
        row.tone = Bad;
        row.state = SocketText::openFailed();
        row.detail = row.hint;
        return;
    case SocketRun::State::Done:
        row.kind = socket->flashedHere()         ? Done
                   : socket->verdict().isEmpty() ? Waiting
                                                 : verdictOf(row.result);
        row.tone = socket->flashedHere() ? Good : Idle;
        row.state = socket->stateText();
        return;
    case SocketRun::State::Running:
        break;
    }
    row.kind = Working;
    row.tone = Busy;
    row.state = QStringLiteral("%1: шаг %2 из %3")
                    .arg(mJobTitle)
                    .arg(socket->stepNumber())
                    .arg(SocketRun::stepCount());
    // The file's bytes as the port took them; its size alone until the first report.
    if (!socket->bytesFile().isEmpty())
        row.detail =
            socket->bytesFile() + QStringLiteral(": ") +
            (socket->bytesSent() > 0 ? QStringLiteral("%1 из %2 КБ")
                                           .arg(kib(socket->bytesSent()), kib(socket->bytesTotal()))
                                     : kib(socket->bytesTotal()) + QStringLiteral(" КБ"));
    if (mStopping)
        row.detail += (row.detail.isEmpty() ? QString() : QStringLiteral(" · ")) +
                      QStringLiteral("последний, новые не начнутся");
}

void SocketModel::appendLog(int number, const QString &line)
{
    const int row = rowOf(number);
    if (row < 0)
        return;
    QStringList &log = mRows[row].log;
    log.append(line);
    if (log.size() > maxLogLines)
        log.removeFirst();
    emit signal_logLineAdded(row, line);
}

void SocketModel::changed(int row)
{
    emit dataChanged(index(row, 0), index(row, ColumnCount - 1));
}

QVariant SocketModel::data(const QModelIndex &index, int role) const
{
    if (!index.isValid() || index.row() >= mRows.size())
        return QVariant();
    const Row &row = mRows.at(index.row());
    if (role == Qt::DisplayRole)
        return cellData(row, index.column());
    return index.column() == 0 ? tileData(row, role) : QVariant();
}

QVariant SocketModel::cellData(const Row &row, int column) const
{
    switch (column) {
    case NumberColumn:
        return row.number;
    case PortColumn:
        return row.port;
    case AdapterColumn:
        return row.adapter;
    case ImeiColumn:
        return row.imei;
    case StateColumn:
        return row.state;
    case StepColumn:
        return row.step;
    case ProgressColumn:
        return row.progress;
    case VerdictColumn:
        return row.verdictKept ? row.verdict : QString();
    case DurationColumn:
        return row.seconds >= 0 ? QVariant(row.seconds) : QVariant();
    }
    return QVariant();
}

QVariant SocketModel::tileData(const Row &row, int role) const
{
    switch (role) {
    case ToneRole:
        return row.tone;
    case StateTextRole:
        return row.state;
    case DetailRole:
        return row.detail;
    case ProgressRole:
        return row.progress;
    case WarningRole:
        return row.warning;
    case NumberRole:
        return row.number;
    case PortRole:
        return row.ids.isEmpty() ? row.port : row.port + QStringLiteral(" · ") + row.ids;
    case ImeiRole:
        return row.imei;
    case VerdictRole:
        return row.kind;
    }
    return QVariant();
}

QVariant SocketModel::headerData(int section, Qt::Orientation orientation, int role) const
{
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return QAbstractTableModel::headerData(section, orientation, role);
    static const char *const titles[ColumnCount] = {"Гнездо",   "Порт",      "Адаптер",
                                                    "IMEI",     "Состояние", "Шаг",
                                                    "Прогресс", "Итог",      "Длительность"};
    return section >= 0 && section < ColumnCount ? QString::fromUtf8(titles[section]) : QVariant();
}
