#include "restartsteps.h"

#include "filetransfer.h"
#include "scriptlist.h"
#include "protocol/modemcommands.h"
#include "settings/settingsfile.h"

#include <algorithm>

namespace {
// The restarting module may leave this many "ate0" unanswered before it counts as lost.
constexpr int echoRetriesAfterRestart = 15;
} // namespace

void RestartSteps::start()
{
    mStep = 0;
    mEchoRetries = 0;
    mDeleteList.clear();
}

JobAction RestartSteps::onRestartAnswer(bool hasOk)
{
    switch (mStep) {
    case 0:
        mEchoRetries = 0;
        mStep = 1;
        return JobAction::send(ModemCommands::startModeOff(), usualWait);
    case 1:
        mStep = 2;
        return JobAction::send(ModemCommands::restart(), usualWait);
    case 2:
        mEchoRetries = echoRetriesAfterRestart;
        mStep = 3;
        return JobAction::send(ModemCommands::echoOff(), usualWait);
    default:
        if (!hasOk) {
            --mEchoRetries;
            return JobAction::send(ModemCommands::echoOff(), usualWait);
        }
        mEchoRetries = 0;
        mStep = listingStep;
        return JobAction::send(ModemCommands::listScripts(), ModemCommands::listWait);
    }
}

std::optional<QStringList> RestartSteps::safeListing(const QByteArray &answer)
{
    const QStringList names = parseScriptList(answer);
    if (std::any_of(names.cbegin(), names.cend(), hasControlCharacter))
        return std::nullopt;
    return names;
}

JobAction RestartSteps::startDeleting(const QStringList &names)
{
    mDeleteList = names;
    mStep = deletingStep;
    if (mDeleteList.isEmpty())
        return JobAction::send(ModemCommands::echoOff(), usualWait);
    return deleteNext();
}

JobAction RestartSteps::deleteNext()
{
    const QString name = mDeleteList.takeFirst();
    return JobAction::send(makeDeleteCommand(name.toUtf8()), ModemCommands::deleteWait);
}
