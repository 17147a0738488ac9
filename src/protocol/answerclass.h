#pragma once

#include <QByteArray>

// Where an answer holds "OK" and the prompt ">>>": plain, case-sensitive byte
// searches anywhere in the raw answer. Nothing else of an answer is judged.
struct AnswerClass
{
    int okAt = -1;
    int promptAt = -1;

    bool hasOk() const { return okAt >= 0; }
    bool hasPrompt() const { return promptAt >= 0; }

    static AnswerClass of(const QByteArray &answer);
};
