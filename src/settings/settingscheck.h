#pragma once

#include "settings/smallfile.h"

#include <QString>

// Why the local settings file must not go into any modem, or an empty string:
// missing, unreadable or not a regular file, empty, larger than a settings
// file can be, or a line whose value holds "::" or a control character. The
// texts are the window's where it has one for the same fault. fileName only
// names the file in the text; content is the file as read once.
QString settingsContentProblem(const QString &fileName, const SmallFile &content);
