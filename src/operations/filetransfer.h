#pragma once

#include "filesource.h"
#include "settings/smallfile.h"

#include <QByteArray>

// The whole content of the file written into the modem under this name, read
// in one opening. The local "settings.ini" is read only as a small regular
// file (readSmallFile with maxSettingsFileBytes): a FIFO or a device is not
// found, a larger file is TooLarge, and neither can block or fill memory.
SmallFile readFileBytes(const QByteArray &name, const FileSource &source = FileSource());

// "at#wscript=\"" name "\"," size, then ",1" for all but "settings.ini", and "\r".
QByteArray writeCommandFor(const QByteArray &name, qint64 size);

// The write command for the file, e.g. "at#wscript=\"main.pyo\",12859,1\r"
// ("settings.ini" has no ",1"). On success fileBytes becomes the file's content
// and the size in the command is the size of exactly those bytes; when the file
// cannot be read the result is empty and fileBytes is left alone.
QByteArray makeWriteCommand(const QByteArray &name, QByteArray &fileBytes,
                            const FileSource &source = FileSource());

// "at#dscript=\"" name "\"\r"; the name is not checked here.
QByteArray makeDeleteCommand(const QByteArray &name);
