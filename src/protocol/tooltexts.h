#pragma once

#include <QString>

// The texts this tool shows or logs that more than one place needs: the job
// ends, the log's status lines, the box titles and the buttons an operator
// presses. The program, its tests, the demo and the bench all read them here,
// so a text is changed in one place and everything that looks for it follows.
namespace ToolText {

// The log's presence-check lines.
inline QString connected()
{
    return QStringLiteral("Связь с модемом установлена");
}
inline QString noConnection()
{
    return QStringLiteral(
        "Нет связи с модемом. Модем не подключен или в модеме выполняется скрипт");
}
inline QString scriptRunningPrefix()
{
    return QStringLiteral("Выполняется скрипт: ");
}
inline QString scriptStopPrefix()
{
    return QStringLiteral("!!!Остановка выполнения скрипта: ");
}

// The port.
inline QString portOpened()
{
    return QStringLiteral("Порт открыт");
}
inline QString portClosed()
{
    return QStringLiteral("Порт закрыт");
}
inline QString portOpenFailed()
{
    return QStringLiteral("Ошибка при открытии порта");
}

// The jobs: start, success and failure.
inline QString flashStarted()
{
    return QStringLiteral("Прошивка модема запущена");
}
inline QString flashed()
{
    return QStringLiteral("Модем прошит");
}
inline QString flashFailed()
{
    return QStringLiteral("Ошибка при прошивке модема");
}
inline QString loadStarted()
{
    return QStringLiteral("Загрузка настроек запущена");
}
inline QString loaded()
{
    return QStringLiteral("Загрузка настроек успешно завершена");
}
inline QString loadFailed()
{
    return QStringLiteral("Ошибка загрузки настроек");
}
inline QString readStarted()
{
    return QStringLiteral("Чтение настроек запущено");
}
inline QString settingsRead()
{
    return QStringLiteral("Настройки модема считаны");
}
inline QString readFailed()
{
    return QStringLiteral("Ошибка чтения настроек");
}
// Settings read from the modem or edited in the dialog that could not be stored.
inline QString settingsNotStored(const QString &fileName)
{
    return QStringLiteral("Не удалось открыть файл ") + fileName +
           QStringLiteral(" и сохранить настройки");
}
inline QString cleared()
{
    return QStringLiteral("Модем очищен");
}
inline QString clearFailed()
{
    return QStringLiteral("Ошибка при очистке модема");
}

// The titles of the boxes a job ends in, and of the settings dialog.
inline QString successTitle()
{
    return QStringLiteral("Сообщение");
}
inline QString failureTitle()
{
    return QStringLiteral("Ошибка");
}
inline QString settingsTitle()
{
    return QStringLiteral("Настройки модема");
}

// The window's buttons.
inline QString openPortButton()
{
    return QStringLiteral("Открыть COM-порт");
}
inline QString closePortButton()
{
    return QStringLiteral("Закрыть COM-порт");
}
inline QString flashButton()
{
    return QStringLiteral("Прошить");
}
inline QString loadButton()
{
    return QStringLiteral("Загрузить настройки");
}
inline QString readButton()
{
    return QStringLiteral("Считать настройки");
}
inline QString clearButton()
{
    return QStringLiteral("Очистить модем");
}
inline QString settingsButton()
{
    return QStringLiteral("Настройки");
}

} // namespace ToolText
