#pragma once

#include "jobaction.h"
#include "restartsteps.h"

#include <QByteArray>

// The clear job: restart the module, list its files and delete every one of
// them. The caller sends the first command "at#escript=\"\"\r" itself. The job
// logs nothing (logText is always false) and ignores the prompt ">>>".
//
// Contract of onAnswer(): as for WriteJob. After an end, a further call before
// start() sends nothing and returns a Fail with "Ошибка при очистке модема".
class ClearJob
{
public:
    explicit ClearJob(const Timing &timing) : mSteps(timing.answer) {}

    void start();
    JobAction onAnswer(const QByteArray &answer);
    int step() const { return mSteps.step(); }
    bool finished() const { return mFinished; } // true before the first start too

private:
    JobAction end(JobAction::Kind kind, const QString &text);

    bool mFinished = true;
    RestartSteps mSteps;
};
