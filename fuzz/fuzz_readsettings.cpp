// The read-settings answer on arbitrary bytes: a read succeeds exactly when the last
// non-empty line is "OK" once "<<<" is gone, and what it keeps for the local file is every
// other non-empty line, free of "<<<".
#include "harness.h"
#include "operations/readsettingsanswer.h"
#include "serial/modemtext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer = Fuzz::bytes(data, size);
    const std::optional<QStringList> lines = parseReadSettingsAnswer(answer);
    QStringList parts = textUpToZero(answer).split("\r\n", Qt::SkipEmptyParts);
    const bool endsInOk = !parts.isEmpty() && parts.takeLast().remove("<<<") == "OK";
    Fuzz::require(lines.has_value() == endsInOk, "a read succeeds exactly on a final OK line");
    Fuzz::require(!lines || (lines->size() == parts.size() && !lines->join('\n').contains("<<<")),
                  "every other non-empty line is kept, and none carries \"<<<\"");
    return 0;
}
