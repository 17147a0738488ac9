#pragma once

#include <QString>

class QTextBrowser;

// Writes finished lines into the log pane. Lines go in as plain text, whatever
// the modem sent, and only the last line is ever read back, so the cost of a
// line does not grow with the pane. The pane keeps the most recent maxLines
// lines and drops older ones, so a tool left open for days stays small.
class LogPane
{
public:
    static constexpr int maxLines = 50000;
    static constexpr int trimBatch = 1000; // older lines are dropped this many at a time

    explicit LogPane(QTextBrowser *view = nullptr) : mView(view) {}

    bool exists() const { return mView != nullptr; }
    QString lastLine() const;
    // Appends a paragraph and keeps following the end when the view was there.
    void append(const QString &line);

private:
    void dropOldestLines();

    QTextBrowser *mView;
};
