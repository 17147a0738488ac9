// The log line composer on arbitrary texts and last pane lines. Input: one byte
// of message kind (bits 0-1) and presence check (bit 2), one byte of presence
// count (signed), four bytes of time of day, then the text, the separator 0x1e
// and the pane's last line. Every line shown is one line (no CR or LF, which
// would break the pane's memory of its last line), starts with a 15-character
// stamp, and a received line is one of the four interpretations, with the
// connected and no-connection texts never shown twice in a row.
#include "fuzzcheck.h"
#include "log/logcomposer.h"
#include "serial/modemtext.h"

using FuzzCheck::require;

namespace {

constexpr int headerSize = 6;
constexpr int stampLength = 15;

struct Case
{
    MessageKind kind = MessageKind::Status;
    bool presenceCheck = false;
    int presenceOkCount = 0;
    QDateTime now;
    QByteArray text;
    QString lastPaneLine;
};

Case caseOf(const QByteArray &input)
{
    Case c;
    const auto flags = static_cast<unsigned char>(input.at(0));
    c.kind = static_cast<MessageKind>(flags % 3);
    c.presenceCheck = (flags & 4) != 0;
    c.presenceOkCount = static_cast<signed char>(input.at(1));
    quint32 msecs = 0;
    for (int i = 2; i < headerSize; ++i)
        msecs = (msecs << 8) | static_cast<unsigned char>(input.at(i));
    c.now = QDateTime(QDate(2024, 3, 31), QTime::fromMSecsSinceStartOfDay(int(msecs % 86400000u)));
    const QByteArray rest = input.mid(headerSize);
    const int separator = rest.indexOf(FuzzCheck::pieceSeparator);
    c.text = separator < 0 ? rest : rest.left(separator);
    c.lastPaneLine = separator < 0 ? QString() : QString::fromUtf8(rest.mid(separator + 1));
    return c;
}

void checkReceivedBody(const QString &body, const Case &c)
{
    const QString previous = LogComposer::withoutStamp(c.lastPaneLine);
    const QString running = QStringLiteral("Выполняется скрипт: ");
    if (body == LogComposer::connectedText()) {
        require(c.presenceOkCount > 4, "connected only after five answers");
        require(previous != body, "connected is not repeated");
    } else if (body == LogComposer::noConnectionText()) {
        require(previous != body && !previous.startsWith(running),
                "no connection is not repeated, nor shown right after a version");
    } else if (body.startsWith(running)) {
        const QString version = body.mid(running.size());
        require(version.size() == 5 && version.at(0) == QLatin1Char('v') &&
                    version.at(2) == QLatin1Char('.'),
                "a running script line shows one version");
    } else {
        require(body.startsWith(QStringLiteral("!!!Остановка выполнения скрипта: ")),
                "a received line is one of the four interpretations");
        require(c.text.contains("Stop Script: "), "a stop line needs a stop in the output");
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray input = FuzzCheck::bytesOf(data, size);
    if (input.size() < headerSize)
        return 0;
    const Case c = caseOf(input);
    const LogComposer composer;
    const QString text =
        c.kind == MessageKind::Received ? textUpToZero(c.text) : QString::fromUtf8(c.text);
    const QString line =
        composer.compose(c.now, text, c.kind, c.presenceCheck, c.presenceOkCount, c.lastPaneLine);
    require(LogComposer::stamp(c.now).size() == stampLength, "the stamp has 15 characters");
    if (line.isEmpty()) {
        require(c.kind != MessageKind::Status || text.isEmpty(), "a status text is always shown");
        return 0;
    }
    require(c.kind != MessageKind::Sent, "sent lines are never shown");
    require(c.kind != MessageKind::Received || c.presenceCheck,
            "received lines are shown only during the presence check");
    require(line.size() > stampLength && line.startsWith(LogComposer::stamp(c.now)),
            "a line starts with its stamp and says something");
    require(!line.contains(QLatin1Char('\r')) && !line.contains(QLatin1Char('\n')),
            "a shown line is one line");
    if (c.kind == MessageKind::Received)
        checkReceivedBody(line.mid(stampLength), c);
    return 0;
}
