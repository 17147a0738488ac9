#pragma once

#include <QString>

// What the system said about a file, as a Russian sentence with the one thing
// the operator can do about it. The system's own text is never shown: on a
// Russian bench it may be English, and it names no action.
namespace FileProblem {

enum class Access
{
    Read,
    Write
};

// errorNumber: the errno of the failed call on fileName.
QString sentence(int errorNumber, const QString &fileName, Access access = Access::Write);

#ifdef Q_OS_WIN
// code: GetLastError() of the failed call on fileName.
QString sentenceForWindows(unsigned long code, const QString &fileName,
                           Access access = Access::Write);
#endif

// The same for the program's own output (a console, a pipe, a redirect),
// which has no file name to give.
QString outputSentence(int errorNumber);

// The folder a file is in, as the sentences name it.
QString folderOf(const QString &fileName);

} // namespace FileProblem
