#include "protocol/answerclass.h"

#include "protocol/modemcommands.h"

AnswerClass AnswerClass::of(const QByteArray &answer)
{
    AnswerClass result;
    result.okAt = answer.indexOf(ModemCommands::ok());
    result.promptAt = answer.indexOf(ModemCommands::prompt());
    return result;
}
