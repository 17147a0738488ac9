// The read-settings answer on arbitrary bytes: a read succeeds only when the last non-empty
// line is "OK" once "<<<" is gone; what it keeps for the local file is every other non-empty
// line, free of "<<<", and makes a settings file: at most 16,384 bytes, no control byte but
// the line breaks, every line empty or of three fields, and no replacement character that
// the modem did not send.
#include "harness.h"
#include "operations/readsettingsanswer.h"
#include "protocol/modemtext.h"

#include <algorithm>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer = Fuzz::bytes(data, size);
    const std::optional<QStringList> lines = parseReadSettingsAnswer(answer);
    QStringList parts = textUpToZero(answer).split("\r\n", Qt::SkipEmptyParts);
    const bool endsInOk = !parts.isEmpty() && parts.takeLast().remove("<<<") == "OK";
    Fuzz::require(!lines || endsInOk, "a read succeeds only on a final OK line");
    if (!lines)
        return 0;
    Fuzz::require(lines->size() == parts.size() && !lines->join('\n').contains("<<<"),
                  "every other non-empty line is kept, and none carries \"<<<\"");
    const QByteArray stored = lines->join("\r\n").toUtf8();
    Fuzz::require(stored.size() <= 16384 &&
                      std::none_of(stored.begin(), stored.end(),
                                   [](char c) {
                                       return (uchar(c) < 32 && c != '\r' && c != '\n') || c == 127;
                                   }),
                  "what is stored is small and free of control bytes but the line breaks");
    Fuzz::require(std::all_of(lines->begin(), lines->end(),
                              [](const QString &line) {
                                  return line.isEmpty() || line.split("::").size() == 3;
                              }),
                  "every stored line is empty or of three fields");
    Fuzz::require(!stored.contains("\xef\xbf\xbd") || answer.contains("\xef\xbf\xbd"),
                  "no byte the modem sent was replaced in decoding");
    return 0;
}
