#include "simcommand.h"

#include <QRegularExpression>

namespace {

// Splits `"name"rest` into the name and what follows the closing quote.
bool splitQuoted(const QByteArray &args, QByteArray *name, QByteArray *rest)
{
    if (!args.startsWith('"'))
        return false;
    const int close = args.indexOf('"', 1);
    if (close < 0)
        return false;
    *name = args.mid(1, close - 1);
    *rest = args.mid(close + 1);
    return true;
}

SimCommand make(SimCommand::Kind kind, const QByteArray &name = QByteArray(), int size = 0)
{
    SimCommand command;
    command.kind = kind;
    command.name = name;
    command.size = size;
    return command;
}

SimCommand parseNamed(SimCommand::Kind kind, const QByteArray &args, bool allowEmpty)
{
    QByteArray name;
    QByteArray rest;
    if (!splitQuoted(args, &name, &rest) || !rest.isEmpty() || (name.isEmpty() && !allowEmpty))
        return SimCommand();
    return make(kind, name);
}

SimCommand parseWrite(const QByteArray &args)
{
    static const QRegularExpression sizeAndFlag(QStringLiteral("^,([0-9]{1,9})(,[01])?$"));
    QByteArray name;
    QByteArray rest;
    if (!splitQuoted(args, &name, &rest) || name.isEmpty())
        return SimCommand();
    const QRegularExpressionMatch match = sizeAndFlag.match(QString::fromLatin1(rest));
    if (!match.hasMatch())
        return SimCommand();
    const int size = match.captured(1).toInt();
    return size > 0 ? make(SimCommand::Kind::Write, name, size) : SimCommand();
}

SimCommand parseStartMode(const QByteArray &args)
{
    static const QRegularExpression modeAndDelay(QStringLiteral("^(0|1(,[0-9]{1,5})?)$"));
    return modeAndDelay.match(QString::fromLatin1(args)).hasMatch()
               ? make(SimCommand::Kind::StartMode)
               : SimCommand();
}

} // namespace

SimCommand SimCommand::parse(const QByteArray &line)
{
    const int equals = line.indexOf('=');
    const QByteArray word = (equals < 0 ? line : line.left(equals)).toLower();
    const QByteArray args = equals < 0 ? QByteArray() : line.mid(equals + 1);

    if (equals < 0) {
        if (word == "at")
            return make(Kind::Attention);
        if (word == "ate0" || word == "ate")
            return make(Kind::EchoOff);
        if (word == "ate1")
            return make(Kind::EchoOn);
        if (word == "at#lscript")
            return make(Kind::List);
        if (word == "at#execscr")
            return make(Kind::Execute);
        if (word == "at+cgsn")
            return make(Kind::Identity);
        return SimCommand();
    }
    if (word == "at#escript")
        return parseNamed(Kind::SelectScript, args, true);
    if (word == "at#rscript")
        return parseNamed(Kind::Read, args, false);
    if (word == "at#dscript")
        return parseNamed(Kind::Delete, args, false);
    if (word == "at#wscript")
        return parseWrite(args);
    if (word == "at#startmodescr")
        return parseStartMode(args);
    if (word == "at#enhrst" && args == "1,0")
        return make(Kind::Restart);
    return SimCommand();
}
