#pragma once

#include "jobaction.h"
#include "protocol/jobsteps.h"
#include "protocol/timing.h"

#include <QByteArray>
#include <QStringList>
#include <optional>

// The opening that the write and clear jobs share: deselect the script, restart
// the module, wait for it to answer "ate0" with "OK" again, list its files and
// delete the chosen ones, one command per answer. Holds the step counter, the
// echo-off retries and the names still to delete; each job owns its own copy.
class RestartSteps
{
public:
    explicit RestartSteps(const Timing::AnswerWaits &waits) : mWaits(waits) {}

    void start();
    int step() const { return mStep; }
    void setStep(int step) { mStep = step; }

    // True while the echo-off wait may still let an answer without "OK" pass.
    bool absorbsMissingOk() const { return mEchoRetries > 0; }

    // Steps Deselect to EchoOff, for an answer the job's guard accepted: the next command.
    JobAction onRestartAnswer(bool hasOk);

    // The names of a listing, or nullopt when one of them holds a control
    // character and so must not be put into a command.
    static std::optional<QStringList> safeListing(const QByteArray &answer);

    // Listing: sends the first delete, or "ate0" when there is nothing to delete.
    JobAction startDeleting(const QStringList &names);
    // Deleting: true while deletes remain; deleteNext() sends the next one.
    bool hasPendingDeletes() const { return !mDeleteList.isEmpty(); }
    JobAction deleteNext();

private:
    Timing::AnswerWaits mWaits;
    int mStep = JobStep::Deselect;
    int mEchoRetries = 0;
    QStringList mDeleteList;
};
