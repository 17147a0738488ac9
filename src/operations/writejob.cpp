#include "writejob.h"

#include "filetransfer.h"
#include "protocol/answerclass.h"
#include "protocol/modemcommands.h"
#include "protocol/modemfiles.h"
#include "protocol/tooltexts.h"

namespace {
QString notFoundText(const QString &name)
{
    return QStringLiteral("Файл ") + name + QStringLiteral(" не найден");
}

QString emptyText(const QString &name)
{
    return QStringLiteral("Файл ") + name + QStringLiteral(" пуст");
}

// The message for a file that must not be written as read, or an empty string.
QString fileProblem(const QString &name, const SmallFile &file)
{
    switch (file.status) {
    case SmallFile::Status::NotFound:
        return notFoundText(name);
    case SmallFile::Status::TooLarge:
        return QStringLiteral("Файл ") + name + QStringLiteral(" слишком большой");
    case SmallFile::Status::Read:
        break;
    }
    return file.bytes.isEmpty() ? emptyText(name) : QString();
}
} // namespace

WriteJob::WriteJob(const Timing &timing, const FileSource &source)
    : mTiming(timing), mFileSource(source), mSteps(timing.answer)
{
}

void WriteJob::start(Kind kind, const QStringList &fileList)
{
    mKind = kind;
    mFileList = fileList;
    mWriteList.clear();
    mFileName.clear();
    mFileBytes.clear();
    mBytesSent = false;
    mFinished = false;
    mSteps.start();
}

JobAction WriteJob::onAnswer(const QByteArray &answer)
{
    if (mFinished)
        return JobAction::end(JobAction::Kind::Fail, failureText(mKind), false);
    const AnswerClass answerClass = AnswerClass::of(answer);
    if (!answerClass.hasOk() && !answerClass.hasPrompt() && !mSteps.absorbsMissingOk())
        return fail();
    if (mSteps.step() == JobStep::Transfer)
        return onTransferAnswer(answerClass);
    // The prompt belongs to a file transfer only; anywhere else the modem is out of step.
    if (answerClass.hasPrompt())
        return fail();
    switch (mSteps.step()) {
    case JobStep::Listing:
        return onListing(answer);
    case JobStep::Deleting:
        return onDeletingAnswer();
    case JobStep::StartModeOn:
        mSteps.setStep(JobStep::SelectMain);
        return JobAction::send(ModemCommands::selectMain(), mTiming.answer.selectMain);
    case JobStep::SelectMain:
        mSteps.setStep(JobStep::Execute);
        return JobAction::send(ModemCommands::execScript(), mTiming.answer.execScript);
    case JobStep::Execute:
        return end(JobAction::Kind::Succeed, successText(mKind), true);
    default:
        return mSteps.onRestartAnswer(answerClass.hasOk());
    }
}

JobAction WriteJob::onListing(const QByteArray &answer)
{
    const std::optional<QStringList> names = RestartSteps::safeListing(answer);
    if (!names)
        return fail();
    // Load settings replaces only the settings file; flash replaces everything
    // else, and the settings file too when it was given its own.
    const bool deleteSettings = mKind == Kind::LoadSettings;
    const bool replaceAll = mKind == Kind::Flash && mReplaceSettings;
    QStringList deletes;
    for (const QString &name : *names) {
        if (replaceAll || (name == ModemFiles::settings()) == deleteSettings)
            deletes.append(name);
    }
    mWriteList.clear();
    if (mKind == Kind::LoadSettings || replaceAll || !names->contains(ModemFiles::settings()))
        mWriteList.append(ModemFiles::settings());
    mWriteList += mFileList;
    // Refuse before the first delete, so a job that cannot write its files
    // leaves the modem with all of them.
    const QString problem = firstFileProblem();
    if (!problem.isEmpty())
        return end(JobAction::Kind::Fail, problem, false);
    return mSteps.startDeleting(deletes);
}

JobAction WriteJob::onDeletingAnswer()
{
    if (mSteps.hasPendingDeletes())
        return mSteps.deleteNext();
    mSteps.setStep(JobStep::Transfer);
    return writeNextFileOrFinish();
}

JobAction WriteJob::onTransferAnswer(const AnswerClass &answer)
{
    if (answer.hasOk()) {
        // "OK" ends a file only once its bytes went out; before that the modem took nothing.
        if (!mBytesSent)
            return fail();
        return writeNextFileOrFinish();
    }
    // A second prompt means the modem did not take the bytes; sending them again could garble the
    // file.
    if (mBytesSent)
        return fail();
    mBytesSent = true;
    return JobAction::sendFile(mFileName, mFileBytes,
                               mTiming.fileBytesAnswerWait(mFileBytes.size()));
}

JobAction WriteJob::writeNextFileOrFinish()
{
    if (mWriteList.isEmpty()) {
        mSteps.setStep(JobStep::StartModeOn);
        return JobAction::send(ModemCommands::startModeOn(), mTiming.answer.startModeOn);
    }
    const QString name = mWriteList.constFirst();
    // Checked again before sending, as the file may have changed since the check before the
    // deletes: a write command without bytes to follow would leave the modem at its prompt.
    const SmallFile file = readFileBytes(name.toUtf8(), mFileSource);
    const QString problem = fileProblem(name, file);
    if (!problem.isEmpty())
        return end(JobAction::Kind::Fail, problem, false);
    mFileName = name;
    mFileBytes = file.bytes;
    mWriteList.removeFirst();
    mBytesSent = false;
    return JobAction::send(writeCommandFor(name.toUtf8(), mFileBytes.size()),
                           mTiming.answer.writeScript);
}

// The message for the first file of the write list that cannot be written, or an empty string.
QString WriteJob::firstFileProblem() const
{
    for (const QString &name : mWriteList) {
        const QString problem = fileProblem(name, readFileBytes(name.toUtf8(), mFileSource));
        if (!problem.isEmpty())
            return problem;
    }
    return QString();
}

JobAction WriteJob::end(JobAction::Kind kind, const QString &text, bool logText)
{
    mFinished = true;
    return JobAction::end(kind, text, logText);
}

QString WriteJob::startText(Kind kind)
{
    return kind == Kind::Flash ? ToolText::flashStarted() : ToolText::loadStarted();
}

QString WriteJob::successText(Kind kind)
{
    return kind == Kind::Flash ? ToolText::flashed() : ToolText::loaded();
}

QString WriteJob::failureText(Kind kind)
{
    return kind == Kind::Flash ? ToolText::flashFailed() : ToolText::loadFailed();
}
