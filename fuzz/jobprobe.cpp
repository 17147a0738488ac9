#include "jobprobe.h"

#include "serial/modemcommands.h"
#include "serial/modemtext.h"

using FuzzCheck::require;

namespace {

const QByteArray deleteHead = QByteArrayLiteral("at#dscript=\"");
const QByteArray deleteTail = QByteArrayLiteral("\"\r");

// The file lines of a listing that start with the prefix and this name.
bool listingNames(const QByteArray &listing, const QString &name)
{
    const QString entry = QStringLiteral("#LSCRIPT: \"") + name;
    const QString text = textUpToZero(listing);
    return text.startsWith(entry) || text.contains(QStringLiteral("\r\n") + entry);
}

int fileLineCount(const QByteArray &listing)
{
    const QString text = QStringLiteral("\r\n") + textUpToZero(listing);
    return text.count(QStringLiteral("\r\n#LSCRIPT: \""));
}

} // namespace

JobProbe::JobProbe(const QList<QByteArray> &fixedCommands, const NameFilter &mayDelete)
    : mFixedCommands(fixedCommands), mMayDelete(mayDelete),
      mLastCommand(ModemCommands::unselectScript())
{
}

void JobProbe::allowFile(const QByteArray &name, const QByteArray &bytes)
{
    mFiles.insert(name, bytes);
}

void JobProbe::check(const QByteArray &answer, const JobAction &action, bool finishedBefore,
                     bool finishedAfter)
{
    if (finishedBefore) {
        require(action.kind == JobAction::Kind::Fail && action.command.isEmpty(),
                "an ended job sends nothing and reports no success");
        return;
    }
    require(action.isEnd() == finishedAfter, "a job has ended exactly when it says so");
    const bool hasOk = answer.contains(ModemCommands::ok());
    const bool hasPrompt = answer.contains(ModemCommands::prompt());
    mAnswersWithoutOk = hasOk ? 0 : mAnswersWithoutOk + 1;
    if (mLastCommand == ModemCommands::listScripts())
        mListing = answer.isNull() ? QByteArray("") : answer;
    if (action.isEnd()) {
        require(action.command.isEmpty(), "an end sends nothing");
        require(action.kind != JobAction::Kind::Succeed || hasOk, "a success needs an \"OK\"");
        return;
    }
    require(mAnswersWithoutOk < answersWithoutOkToEnd,
            "a job ends by the 16th answer in a row without \"OK\"");
    checkCommand(action.command, hasOk, hasPrompt);
    mLastCommand = action.command;
}

void JobProbe::checkCommand(const QByteArray &command, bool hasOk, bool hasPrompt)
{
    require(!command.isEmpty(), "a send carries bytes");
    if (!mPendingFile.isNull() && command == mFiles.value(mPendingFile)) {
        require(hasPrompt && !hasOk, "file bytes go out only after a prompt without \"OK\"");
        mSentFiles.append(mPendingFile);
        mPendingFile = QByteArray();
        return;
    }
    mPendingFile = QByteArray();
    require(FuzzCheck::isCleanCommand(command),
            "a command ends in \"\\r\" and holds no other control byte");
    require(mFixedCommands.contains(command) || isAllowedDelete(command) || isAllowedWrite(command),
            "every command is one of the modem's commands");
}

bool JobProbe::isAllowedDelete(const QByteArray &command)
{
    if (!command.startsWith(deleteHead) || !command.endsWith(deleteTail))
        return false;
    const QByteArray name =
        command.mid(deleteHead.size(), command.size() - deleteHead.size() - deleteTail.size());
    require(listingAnswered(), "deletes come after the listing");
    require(listingNames(mListing, QString::fromUtf8(name)), "a deleted name was listed");
    require(mMayDelete(QString::fromUtf8(name)), "the job deletes only its own kind of file");
    ++mDeletes;
    require(mDeletes <= fileLineCount(mListing), "no more deletes than listed files");
    return true;
}

bool JobProbe::isAllowedWrite(const QByteArray &command)
{
    for (auto it = mFiles.cbegin(); it != mFiles.cend(); ++it) {
        QByteArray expected =
            "at#wscript=\"" + it.key() + "\"," + QByteArray::number(it.value().size());
        if (it.key() != "settings.ini")
            expected += ",1";
        if (command == expected + '\r') {
            mPendingFile = it.key();
            return true;
        }
    }
    return false;
}
