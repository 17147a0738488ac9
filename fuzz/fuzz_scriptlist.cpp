// The listing parser on arbitrary "at#lscript" answers: every name comes from a
// file line in order, carries no quote, and a listing passes the job's safety
// filter exactly when every delete command built from it is a clean command.
#include "fuzzcheck.h"
#include "operations/filetransfer.h"
#include "operations/restartsteps.h"
#include "operations/scriptlist.h"
#include "serial/modemtext.h"

using FuzzCheck::require;

namespace {

QStringList fileLines(const QByteArray &answer)
{
    const QString prefix = QStringLiteral("#LSCRIPT: \"");
    QStringList rests;
    for (const QString &line : textUpToZero(answer).split(QStringLiteral("\r\n"))) {
        if (line.startsWith(prefix))
            rests.append(line.mid(prefix.size()));
    }
    return rests;
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer = FuzzCheck::bytesOf(data, size);
    const QStringList names = parseScriptList(answer);
    const QStringList rests = fileLines(answer);
    require(names.size() == rests.size(), "one name per file line");
    bool anyUnsafe = false;
    for (int i = 0; i < names.size(); ++i) {
        const QString &name = names.at(i);
        const QString &rest = rests.at(i);
        require(!name.contains(QLatin1Char('"')), "a name holds no quote");
        require(rest.startsWith(name), "a name is the start of its line");
        require(rest.size() == name.size() || rest.at(name.size()) == QLatin1Char('"'),
                "a name ends at the closing quote or the line end");
        const bool clean = FuzzCheck::isCleanCommand(makeDeleteCommand(name.toUtf8()));
        require(clean == !hasControlCharacter(name),
                "the control character test matches the delete command's bytes");
        anyUnsafe = anyUnsafe || !clean;
    }
    require(RestartSteps::safeListing(answer).has_value() == !anyUnsafe,
            "a listing is refused exactly when one of its names is unsafe");
    return 0;
}
