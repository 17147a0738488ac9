#include "clearjob.h"

#include "protocol/answerclass.h"
#include "protocol/tooltexts.h"

namespace {
QString successText()
{
    return ToolText::cleared();
}

QString failureText()
{
    return ToolText::clearFailed();
}
} // namespace

void ClearJob::start()
{
    mFinished = false;
    mSteps.start();
}

JobAction ClearJob::onAnswer(const QByteArray &answer)
{
    if (mFinished)
        return JobAction::end(JobAction::Kind::Fail, failureText(), false);
    const bool hasOk = AnswerClass::of(answer).hasOk();
    if (!hasOk && !mSteps.absorbsMissingOk())
        return end(JobAction::Kind::Fail, failureText());
    if (mSteps.step() < JobStep::Listing)
        return mSteps.onRestartAnswer(hasOk);
    if (mSteps.step() == JobStep::Listing) {
        const std::optional<QStringList> names = RestartSteps::safeListing(answer);
        if (!names)
            return end(JobAction::Kind::Fail, failureText());
        return mSteps.startDeleting(*names);
    }
    if (mSteps.hasPendingDeletes())
        return mSteps.deleteNext();
    return end(JobAction::Kind::Succeed, successText());
}

JobAction ClearJob::end(JobAction::Kind kind, const QString &text)
{
    mFinished = true;
    return JobAction::end(kind, text, false);
}
