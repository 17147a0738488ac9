#include "jobfloor.h"

namespace {
constexpr double msPerByte = 10.0 * 1000.0 / 9600.0;
} // namespace

JobFloor JobFloor::of(const QList<QByteArray> &commands, qint64 dataBytes, qint64 answerBytes,
                      const Timing &timing)
{
    JobFloor floor;
    floor.designMs = msOf(timing.startDelay());
    qint64 wireBytes = dataBytes + answerBytes;
    for (const QByteArray &command : commands) {
        floor.designMs += msOf(timing.answer.forCommand(command));
        wireBytes += command.size() + 1;
        if (command.startsWith("at#wscript")) {
            // at#wscript="name",size[,1]: the bytes follow with their own wait.
            const QList<QByteArray> fields = command.mid(command.indexOf("\",") + 2).split(',');
            floor.designMs += msOf(timing.fileBytesAnswerWait(fields.value(0).toLongLong()));
        }
    }
    floor.lineMs = wireBytes * msPerByte;
    return floor;
}
