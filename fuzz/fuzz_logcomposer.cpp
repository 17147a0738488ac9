// The log line composer on arbitrary texts and last pane lines. Input: one byte of message
// kind (bits 0-1) and presence check (bit 2), one byte whose bit 0 says connected, four bytes
// of time of day, then the text, the separator 0x1e and the pane's last line. Every line
// shown is one line (no CR or LF, which would break the pane's memory of its last line),
// starts with a 15-character stamp, and a received line is one of the four interpretations,
// with the connected and no-connection texts never shown twice in a row.
#include "harness.h"
#include "log/logcomposer.h"
#include "protocol/modemtext.h"
#include "protocol/tooltexts.h"

#include <QtEndian>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 6)
        return 0;
    const auto kind = static_cast<MessageKind>(data[0] % 3);
    const bool presence = (data[0] & 4) != 0, received = kind == MessageKind::Received;
    const bool connected = (data[1] & 1) != 0;
    const QDateTime now(QDate(2024, 3, 31), QTime::fromMSecsSinceStartOfDay(
                                                qFromBigEndian<quint32>(data + 2) % 86400000u));
    const QList<QByteArray> parts = Fuzz::bytes(data + 6, size - 6).split('\x1e');
    const QString text = received ? textUpToZero(parts.at(0)) : QString::fromUtf8(parts.at(0));
    const QString last = QString::fromUtf8(parts.value(1));
    const QString line = LogComposer().compose(now, text, kind, presence, connected, last);
    const QString stamp = LogComposer::stamp(now);
    Fuzz::require(stamp.size() == 15 &&
                      (!line.isEmpty() || kind != MessageKind::Status || text.isEmpty()),
                  "the stamp has 15 characters, and a status text is always shown");
    if (line.isEmpty())
        return 0;
    Fuzz::require((kind == MessageKind::Status || (received && presence)) && line.size() > 15 &&
                      line.startsWith(stamp) && !line.contains('\r') && !line.contains('\n'),
                  "only status lines and received ones during the presence check show; a line "
                  "is one line, starts with its stamp and says something");
    const QString body = line.mid(15), previous = LogComposer::withoutStamp(last);
    const QString running = ToolText::scriptRunningPrefix();
    Fuzz::require(
        !received ||
            (body == ToolText::connected()      ? connected && previous != body
             : body == ToolText::noConnection() ? previous != body && !previous.startsWith(running)
             : body.startsWith(running)
                 ? QRegularExpression("^v\\d\\.\\d\\d$").match(body.mid(running.size())).hasMatch()
                 : body.startsWith(ToolText::scriptStopPrefix()) && text.contains("Stop Script: ")),
        "connected after five answers and once; no connection neither repeated nor right after "
        "a version; a running script line shows one version; a stop line needs a stop");
    return 0;
}
