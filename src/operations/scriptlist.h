#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>

// The file names of an "at#lscript" answer, in listing order: every line that
// starts with #LSCRIPT: and a quote gives the text after it, cut before the
// next quote.
QStringList parseScriptList(const QByteArray &answer);
