#pragma once

#include <QString>

// The demo talks to a person at a terminal (or to a CI log): every line goes
// out at once, as UTF-8, so the narration keeps pace with the window.
namespace Console {
void say(const QString &line);
void warn(const QString &line); // to stderr
} // namespace Console
