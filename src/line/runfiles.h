#pragma once

#include <QList>
#include <QPair>
#include <QString>

// Each file a run writes or sends is a file of its own: a journal must not
// land in the settings sent to the modems, nor a journal in its own socket
// numbers. Two names of one file (a link, a relative path) count as one.
namespace RunFiles {

// One name for a file however it is named: links resolved, also a link to a
// file not yet written.
QString key(const QString &path);

// files: what each file is for and its name. Why two of them are one file,
// or an empty string. A file with no name is one the run does without.
QString conflict(const QList<QPair<QString, QString>> &files);

} // namespace RunFiles
