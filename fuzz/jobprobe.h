#pragma once

#include "fuzzcheck.h"
#include "operations/jobaction.h"

#include <QByteArray>
#include <QHash>
#include <QList>
#include <QString>
#include <functional>

// Watches one run of a job step machine fed arbitrary answers and stops the
// fuzz run when an action breaks a rule that holds whatever the modem says:
// - at most one command per answer, and nothing after the end;
// - every command is one of the modem's commands: a fixed one, a delete of a
//   name the listing gave, or a write command with the file's real size;
//   file bytes go out only after a prompt answer to their own write command;
// - no command holds a control byte other than its final "\r";
// - once the modem stops saying "OK", the job ends by the 16th answer.
class JobProbe
{
public:
    static constexpr int answersWithoutOkToEnd = 16;

    using NameFilter = std::function<bool(const QString &name)>;

    // The caller sends the first command, "at#escript=\"\"\r", itself.
    JobProbe(const QList<QByteArray> &fixedCommands, const NameFilter &mayDelete);

    // A file the job may write: its write command and, after a prompt, its bytes.
    void allowFile(const QByteArray &name, const QByteArray &bytes);

    // Checks the action the job returned for this answer.
    void check(const QByteArray &answer, const JobAction &action, bool finishedBefore,
               bool finishedAfter);

    QByteArray lastCommand() const { return mLastCommand; }
    bool listingAnswered() const { return !mListing.isNull(); }
    QList<QByteArray> sentFiles() const { return mSentFiles; }

private:
    void checkCommand(const QByteArray &command, bool hasOk, bool hasPrompt);
    bool isAllowedDelete(const QByteArray &command);
    bool isAllowedWrite(const QByteArray &command);

    QList<QByteArray> mFixedCommands;
    NameFilter mMayDelete;
    QHash<QByteArray, QByteArray> mFiles;
    QByteArray mLastCommand;
    QByteArray mListing;
    QByteArray mPendingFile;
    QList<QByteArray> mSentFiles;
    int mDeletes = 0;
    int mAnswersWithoutOk = 0;
};

// Feeds the answers to a started job, then silence until it ends, and one
// stray answer after the end; every action goes through the probe, and every
// action before the end also through the job's own check.
template <typename Job>
void driveJob(Job &job, JobProbe &probe, const QList<QByteArray> &answers,
              const std::function<void(const JobAction &)> &checkAction)
{
    const auto feed = [&job, &probe, &checkAction](const QByteArray &answer) {
        const bool finishedBefore = job.finished();
        const JobAction action = job.onAnswer(answer);
        probe.check(answer, action, finishedBefore, job.finished());
        if (!finishedBefore)
            checkAction(action);
    };
    for (const QByteArray &answer : answers)
        feed(answer);
    for (int i = 0; i < JobProbe::answersWithoutOkToEnd && !job.finished(); ++i)
        feed(QByteArray());
    FuzzCheck::require(job.finished(), "a job ends once the modem falls silent");
    feed(QByteArrayLiteral("OK\r\n"));
}
