#include "jobfloor.h"

#include "operations/filetransfer.h"
#include "protocol/modemcommands.h"

namespace {
constexpr double startDelayMs = 450;
constexpr double msPerByte = 10.0 * 1000.0 / 9600.0;
} // namespace

int JobFloor::answerWait(const QByteArray &command)
{
    if (command.startsWith("at#lscript") || command.startsWith("at#rscript"))
        return ModemCommands::listWait;
    if (command.startsWith("at#dscript"))
        return ModemCommands::deleteWait;
    if (command.startsWith("at#wscript"))
        return ModemCommands::writeCommandWait;
    return ModemCommands::defaultWait;
}

JobFloor JobFloor::of(const QList<QByteArray> &commands, qint64 dataBytes, qint64 answerBytes)
{
    JobFloor floor;
    floor.designMs = startDelayMs;
    qint64 wireBytes = dataBytes + answerBytes;
    for (const QByteArray &command : commands) {
        floor.designMs += answerWait(command);
        wireBytes += command.size() + 1;
        if (command.startsWith("at#wscript")) {
            // at#wscript="name",size[,1]: the bytes follow with their own wait.
            const QList<QByteArray> fields = command.mid(command.indexOf("\",") + 2).split(',');
            floor.designMs += fileBytesWait(fields.value(0).toLongLong());
        }
    }
    floor.lineMs = wireBytes * msPerByte;
    return floor;
}
