// The read-settings answer on arbitrary bytes: a read succeeds exactly when the
// last non-empty line is "OK" once "<<<" is gone, and what it keeps for the
// local file is free of "<<<" and of that final "OK" line.
#include "fuzzcheck.h"
#include "operations/readsettingsanswer.h"
#include "serial/modemtext.h"

using FuzzCheck::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer = FuzzCheck::bytesOf(data, size);
    const std::optional<QStringList> lines = parseReadSettingsAnswer(answer);

    const QStringList parts = textUpToZero(answer).split(QStringLiteral("\r\n"));
    int nonEmpty = 0;
    QString last;
    for (const QString &part : parts) {
        if (part.isEmpty())
            continue;
        ++nonEmpty;
        last = part;
    }
    const bool endsInOk = nonEmpty > 0 && last.remove(QStringLiteral("<<<")) == QLatin1String("OK");
    require(lines.has_value() == endsInOk, "a read succeeds exactly on a final \"OK\" line");
    if (!lines)
        return 0;
    require(lines->size() == nonEmpty - 1, "every non-empty line but the \"OK\" is kept");
    for (const QString &line : *lines)
        require(!line.contains(QStringLiteral("<<<")), "no kept line carries \"<<<\"");
    return 0;
}
