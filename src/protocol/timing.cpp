#include "timing.h"

#include "modemcommands.h"

#include <QList>
#include <QPair>
#include <algorithm>
#include <limits>

namespace {
template <typename Duration> Duration divided(Duration wait, int divisor)
{
    if (wait.count() <= 0)
        return wait;
    return Duration(std::max<typename Duration::rep>(1, (wait.count() + divisor - 1) / divisor));
}
} // namespace

Timing::Ms Timing::AnswerWaits::forCommand(const QByteArray &command) const
{
    const QByteArray line = command.endsWith('\r') ? command : command + '\r';
    const QList<QPair<QByteArray, Ms>> exact{{ModemCommands::echoOff(), echoOff},
                                             {ModemCommands::readSettings(), readSettings},
                                             {ModemCommands::unselectScript(), unselectScript},
                                             {ModemCommands::startModeOff(), startModeOff},
                                             {ModemCommands::restart(), restart},
                                             {ModemCommands::listScripts(), listScripts},
                                             {ModemCommands::startModeOn(), startModeOn},
                                             {ModemCommands::selectMain(), selectMain},
                                             {ModemCommands::execScript(), execScript},
                                             {ModemCommands::imeiQuery(), imeiQuery}};
    for (const auto &[known, wait] : exact) {
        if (line == known)
            return wait;
    }
    if (line.startsWith("at#dscript="))
        return deleteScript;
    if (line.startsWith("at#wscript="))
        return writeScript;
    return usual;
}

Timing::Ms Timing::fileBytesAnswerWait(qint64 size) const
{
    const Us perByte =
        size <= fileBytes.smallFileBytes ? fileBytes.smallFilePerByte : fileBytes.largeFilePerByte;
    const qint64 bytes = std::max<qint64>(size, 0);
    const qint64 longest = std::numeric_limits<int>::max();
    // Beyond what an int of milliseconds holds the wait is the longest one.
    if (perByte.count() > 0 && bytes > longest / perByte.count())
        return Ms(longest);
    const qint64 perBytesMs = (perByte.count() * bytes + 999) / 1000;
    return Ms(std::min(longest, std::max<qint64>(fileBytes.least.count(), perBytesMs)));
}

Timing Timing::withAnswersAtLeast(Ms least) const
{
    Timing t = *this;
    for (Ms *wait :
         {&t.answer.usual, &t.answer.echoOff, &t.answer.readSettings, &t.answer.unselectScript,
          &t.answer.startModeOff, &t.answer.restart, &t.answer.listScripts, &t.answer.deleteScript,
          &t.answer.writeScript, &t.answer.startModeOn, &t.answer.selectMain, &t.answer.execScript,
          &t.answer.imeiQuery, &t.fileBytes.least})
        *wait = std::max(*wait, least);
    return t;
}

Timing Timing::scaled(int divisor) const
{
    Timing t = *this;
    if (divisor <= 1)
        return t;
    for (Ms *wait : {&t.answer.usual,
                     &t.answer.echoOff,
                     &t.answer.readSettings,
                     &t.answer.unselectScript,
                     &t.answer.startModeOff,
                     &t.answer.restart,
                     &t.answer.listScripts,
                     &t.answer.deleteScript,
                     &t.answer.writeScript,
                     &t.answer.startModeOn,
                     &t.answer.selectMain,
                     &t.answer.execScript,
                     &t.answer.imeiQuery,
                     &t.fileBytes.least,
                     &t.worker.write,
                     &t.worker.firstRead,
                     &t.worker.passSleep,
                     &t.worker.unaskedFirst,
                     &t.worker.unaskedSecond,
                     &t.worker.unaskedThird,
                     &t.worker.answerSlice,
                     &t.worker.idleSleep,
                     &t.presenceInterval,
                     &t.startDelayExtra,
                     &t.handOverRetry,
                     &t.portPoll,
                     &t.portConfirm,
                     &t.listingSettle,
                     &t.listingRefresh,
                     &t.pullGrace,
                     &t.redraw,
                     &t.outputFinish,
                     &t.benchCounters,
                     &t.benchAdapters,
                     &t.benchCloseWithin})
        *wait = divided(*wait, divisor);
    t.fileBytes.smallFilePerByte = divided(t.fileBytes.smallFilePerByte, divisor);
    t.fileBytes.largeFilePerByte = divided(t.fileBytes.largeFilePerByte, divisor);
    return t;
}
