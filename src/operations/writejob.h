#pragma once

#include "filesource.h"
#include "jobaction.h"
#include "restartsteps.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

struct AnswerClass;

// The load-settings and flash jobs: the chain of JobStep steps driven by the
// modem's answers. The caller sends the first command "at#escript=\"\"\r" itself,
// then hands every answer to onAnswer() and carries out the action returned.
//
// Contract of onAnswer(): a Send is the next command with its answer wait; a
// Succeed or Fail ends the job and finished() becomes true. Calling onAnswer()
// again before the next start() is a caller error; it sends nothing, changes
// nothing and returns a Fail with failureText() and logText false, so a stray
// answer can never drive the modem or report a success.
class WriteJob
{
public:
    enum class Kind
    {
        LoadSettings,
        Flash
    };

    explicit WriteJob(const Timing &timing, const FileSource &source = FileSource());
    void setFileSource(const FileSource &source) { mFileSource = source; }
    // A flash that replaces the modem's settings file too: every listed file
    // is deleted and the settings file written first, so the modem always ends
    // with the settings it was given (a provisioning table's row).
    void setReplaceSettings(bool replace) { mReplaceSettings = replace; }

    // fileList: the names written after the ones chosen from the listing.
    void start(Kind kind, const QStringList &fileList);
    JobAction onAnswer(const QByteArray &answer);
    int step() const { return mSteps.step(); }  // the progress value, a JobStep
    bool finished() const { return mFinished; } // true before the first start too

    static QString startText(Kind kind);
    static QString successText(Kind kind);
    static QString failureText(Kind kind);

private:
    JobAction onListing(const QByteArray &answer);
    JobAction onDeletingAnswer();
    JobAction onTransferAnswer(const AnswerClass &answer);
    JobAction writeNextFileOrFinish();
    QString firstFileProblem() const;
    JobAction end(JobAction::Kind kind, const QString &text, bool logText);
    JobAction fail() { return end(JobAction::Kind::Fail, failureText(mKind), true); }

    Timing mTiming;
    FileSource mFileSource;
    Kind mKind = Kind::Flash;
    QStringList mFileList;
    QStringList mWriteList;
    QString mFileName; // the file being written
    QByteArray mFileBytes;
    bool mBytesSent = false;
    bool mFinished = true;
    bool mReplaceSettings = false;
    RestartSteps mSteps;
};
