#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The file names of an "at#lscript" answer, in listing order: every line that
// starts with #LSCRIPT: and a quote gives the text after it, cut before the
// next quote.
QStringList parseScriptList(const QByteArray &answer);

// True when the name holds a character below 32 or DEL (127). Such a name
// would put a line break or another control byte inside a delete command.
bool hasControlCharacter(const QString &name);
