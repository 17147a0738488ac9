#pragma once

#include <QString>

class QTextBrowser;

// Writes finished lines into the log pane. Lines go in as plain text, whatever
// the modem sent, and only the last line is ever read back, so the cost of a
// line does not grow with the pane. The pane keeps the most recent maxLines
// lines, and never more than maxCharacters characters, and drops older ones,
// so a tool left open for days, or a modem that floods the line, stays small.
class LogPane
{
public:
    static constexpr int maxLines = 50000;
    static constexpr int trimBatch = 1000; // older lines are dropped this many at a time
    static constexpr int maxCharacters = 2000000;
    // Past maxCharacters, older lines are dropped until this many are free.
    static constexpr int characterTrimBatch = 100000;

    explicit LogPane(QTextBrowser *view = nullptr) : mView(view) {}

    QString lastLine() const;
    // Appends a paragraph and keeps following the end when the view was there.
    void append(const QString &line);

private:
    void dropOldestLines();
    int linesOverCharacterBudget() const;

    QTextBrowser *mView;
};
