#pragma once

#include <QString>

// The longest port name the file "setting" may hold: far beyond "COM256" or a
// /dev/serial/by-id/ path, so anything longer is not a name this tool stored.
inline constexpr qint64 maxPortSettingBytes = 256;

// The port name stored in the file: its UTF-8 text up to the first zero byte.
// Empty when the file is missing, not a regular file or longer than
// maxPortSettingBytes.
QString readPortSetting(const QString &fileName);

// Stores the name as UTF-8 with no line end. A FIFO or a device in the file's
// place is left alone, as opening it could block the window.
void writePortSetting(const QString &fileName, const QString &name);
