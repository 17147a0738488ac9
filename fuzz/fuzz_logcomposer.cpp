// The log line composer on arbitrary texts and last pane lines. Input: one byte of message
// kind (bits 0-1) and presence check (bit 2), one byte of presence count (signed), four bytes
// of time of day, then the text, the separator 0x1e and the pane's last line. Every line
// shown is one line (no CR or LF, which would break the pane's memory of its last line),
// starts with a 15-character stamp, and a received line is one of the four interpretations,
// with the connected and no-connection texts never shown twice in a row.
#include "harness.h"
#include "log/logcomposer.h"
#include "serial/modemtext.h"

using Fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    const auto kind = static_cast<MessageKind>(data[0] % 3);
    const bool presence = (data[0] & 4) != 0;
    const int okCount = static_cast<signed char>(data[1]);
    const quint32 msecs = quint32(data[2]) << 24 | quint32(data[3]) << 16 | data[4] << 8 | data[5];
    const QDateTime now(QDate(2024, 3, 31), QTime::fromMSecsSinceStartOfDay(msecs % 86400000u));
    const QList<QByteArray> parts = Fuzz::pieces(data + 6, size - 6);
    const QString text =
        kind == MessageKind::Received ? textUpToZero(parts.at(0)) : QString::fromUtf8(parts.at(0));
    const QString last = QString::fromUtf8(parts.value(1));
    const QString line = LogComposer().compose(now, text, kind, presence, okCount, last);
    const QString stamp = LogComposer::stamp(now);
    require(stamp.size() == 15, "the stamp has 15 characters");
    require(!line.isEmpty() || kind != MessageKind::Status || text.isEmpty(),
            "a status text is always shown");
    if (line.isEmpty())
        return 0;
    require(kind == MessageKind::Status || (kind == MessageKind::Received && presence),
            "sent lines never show, received ones only during the presence check");
    require(line.size() > 15 && line.startsWith(stamp) && !line.contains('\r') &&
                !line.contains('\n'),
            "a line is one line, starts with its stamp and says something");
    if (kind != MessageKind::Received)
        return 0;
    const QString body = line.mid(15);
    const QString previous = LogComposer::withoutStamp(last);
    const QString running = "Выполняется скрипт: ";
    if (body == LogComposer::connectedText())
        require(okCount > 4 && previous != body, "connected after five answers, and only once");
    else if (body == LogComposer::noConnectionText())
        require(previous != body && !previous.startsWith(running),
                "no connection is not repeated, nor shown right after a version");
    else if (body.startsWith(running))
        require(QRegularExpression("^v\\d\\.\\d\\d$").match(body.mid(running.size())).hasMatch(),
                "a running script line shows one version");
    else
        require(body.startsWith("!!!Остановка выполнения скрипта: ") &&
                    text.contains("Stop Script: "),
                "a stop line needs a stop in the output");
    return 0;
}
