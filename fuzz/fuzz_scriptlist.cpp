// The listing parser on arbitrary "at#lscript" answers: every name comes from a file line in
// order, carries no quote, and a listing passes the jobs' safety filter exactly when every
// delete command built from it is a clean command.
#include "harness.h"
#include "operations/filetransfer.h"
#include "operations/restartsteps.h"
#include "protocol/modemtext.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    const QByteArray answer = Fuzz::bytes(data, size);
    const QStringList names = parseScriptList(answer);
    const QStringList lines =
        textUpToZero(answer).split("\r\n").filter(QRegularExpression("^#LSCRIPT: \""));
    Fuzz::require(names.size() == lines.size(), "one name per file line");
    bool allClean = true;
    for (int i = 0; i < names.size(); ++i) {
        const QString rest = lines.at(i).mid(11);
        Fuzz::require(!names.at(i).contains('"') &&
                          (rest == names.at(i) || rest.startsWith(names.at(i) + '"')),
                      "a name is its line up to the closing quote or the line end");
        allClean = allClean && Fuzz::isCleanCommand(makeDeleteCommand(names.at(i).toUtf8()));
    }
    Fuzz::require(RestartSteps::safeListing(answer).has_value() == allClean,
                  "a listing is refused exactly when one of its delete commands would be unclean");
    return 0;
}
