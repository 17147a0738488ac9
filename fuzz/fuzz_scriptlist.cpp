// The listing parser on arbitrary "at#lscript" answers: every name comes from a file line in
// order, carries no quote, and a listing passes the jobs' safety filter exactly when every
// delete command built from it is a clean command.
#include "harness.h"
#include "operations/filetransfer.h"
#include "operations/restartsteps.h"
#include "serial/modemtext.h"

using Fuzz::require;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer = QByteArray(reinterpret_cast<const char *>(data), int(size));
    const QStringList names = parseScriptList(answer);
    QStringList rests;
    for (const QString &line : textUpToZero(answer).split("\r\n")) {
        if (line.startsWith("#LSCRIPT: \""))
            rests << line.mid(11);
    }
    require(names.size() == rests.size(), "one name per file line");
    bool allClean = true;
    for (int i = 0; i < names.size(); ++i) {
        require(!names.at(i).contains('"') && rests.at(i).startsWith(names.at(i)) &&
                    (rests.at(i) == names.at(i) || rests.at(i).at(names.at(i).size()) == '"'),
                "a name is its line up to the closing quote or the line end");
        allClean = allClean && Fuzz::isCleanCommand(makeDeleteCommand(names.at(i).toUtf8()));
    }
    require(RestartSteps::safeListing(answer).has_value() == allClean,
            "a listing is refused exactly when one of its delete commands would be unclean");
    return 0;
}
