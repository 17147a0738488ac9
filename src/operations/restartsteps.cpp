#include "restartsteps.h"

#include "filetransfer.h"
#include "protocol/modemcommands.h"
#include "scriptlist.h"
#include "settings/settingsfile.h"

#include <algorithm>

namespace {
// The restarting module may leave this many "ate0" unanswered before it counts as lost.
constexpr int echoRetriesAfterRestart = 15;
} // namespace

void RestartSteps::start()
{
    mStep = JobStep::Deselect;
    mEchoRetries = 0;
    mDeleteList.clear();
}

JobAction RestartSteps::onRestartAnswer(bool hasOk)
{
    switch (mStep) {
    case JobStep::Deselect:
        mEchoRetries = 0;
        mStep = JobStep::StartModeOff;
        return JobAction::send(ModemCommands::startModeOff(), mWaits.startModeOff);
    case JobStep::StartModeOff:
        mStep = JobStep::Restart;
        return JobAction::send(ModemCommands::restart(), mWaits.restart);
    case JobStep::Restart:
        mEchoRetries = echoRetriesAfterRestart;
        mStep = JobStep::EchoOff;
        return JobAction::send(ModemCommands::echoOff(), mWaits.echoOff);
    default:
        if (!hasOk) {
            --mEchoRetries;
            return JobAction::send(ModemCommands::echoOff(), mWaits.echoOff);
        }
        mEchoRetries = 0;
        mStep = JobStep::Listing;
        return JobAction::send(ModemCommands::listScripts(), mWaits.listScripts);
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
    mStep = JobStep::Deleting;
    if (mDeleteList.isEmpty())
        return JobAction::send(ModemCommands::echoOff(), mWaits.echoOff);
    return deleteNext();
}

JobAction RestartSteps::deleteNext()
{
    const QString name = mDeleteList.takeFirst();
    return JobAction::send(makeDeleteCommand(name.toUtf8()), mWaits.deleteScript);
}
