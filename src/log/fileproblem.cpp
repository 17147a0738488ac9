#include "log/fileproblem.h"

#include <QDir>
#include <QFileInfo>

#include <cerrno>

#ifdef Q_OS_WIN
#include <windows.h>
#endif

namespace {

enum class Kind
{
    MissingFolder,
    NoPermission,
    DiskFull,
    FileTooLarge,
    InputOutput,
    Other
};

Kind kindOfErrno(int errorNumber)
{
    switch (errorNumber) {
    case ENOENT:
    case ENOTDIR:
        return Kind::MissingFolder;
    case EACCES:
    case EPERM:
    case EROFS:
        return Kind::NoPermission;
    case ENOSPC:
#ifdef EDQUOT
    case EDQUOT:
#endif
        return Kind::DiskFull;
    case EFBIG:
        return Kind::FileTooLarge;
    case EIO:
        return Kind::InputOutput;
    default:
        return Kind::Other;
    }
}

QString sentenceFor(Kind kind, const QString &code, const QString &fileName,
                    FileProblem::Access access)
{
    const QString file = QDir::toNativeSeparators(fileName);
    const QString folder = FileProblem::folderOf(fileName);
    const bool write = access == FileProblem::Access::Write;
    switch (kind) {
    case Kind::MissingFolder:
        // Reading, the file itself may be what is missing.
        return write ? QStringLiteral("папка %1 не найдена: выберите другую папку").arg(folder)
                     : QStringLiteral("файл %1 не найден: выберите другой файл").arg(file);
    case Kind::NoPermission:
        return write ? QStringLiteral("нет прав на запись в %1: выберите другую папку или "
                                      "попросите администратора открыть её для записи")
                           .arg(folder)
                     : QStringLiteral("нет прав на чтение %1: выберите другой файл или "
                                      "попросите администратора открыть его для чтения")
                           .arg(file);
    case Kind::DiskFull:
        return QStringLiteral("диск заполнен: освободите место на диске с папкой %1").arg(folder);
    case Kind::FileTooLarge:
        return QStringLiteral("файл достиг предельного размера");
    case Kind::InputOutput:
        return QStringLiteral("ошибка ввода-вывода диска с %1: проверьте диск или выберите "
                              "другую папку")
            .arg(folder);
    case Kind::Other:
        break;
    }
    return (write ? QStringLiteral("не удалось записать файл %1 (системная ошибка %2): выберите "
                                   "другую папку")
                  : QStringLiteral("не удалось прочитать файл %1 (системная ошибка %2): выберите "
                                   "другой файл"))
        .arg(file, code);
}

} // namespace

QString FileProblem::folderOf(const QString &fileName)
{
    return QDir::toNativeSeparators(QFileInfo(fileName).absolutePath());
}

QString FileProblem::sentence(int errorNumber, const QString &fileName, Access access)
{
    return sentenceFor(kindOfErrno(errorNumber), QString::number(errorNumber), fileName, access);
}

QString FileProblem::outputSentence(int errorNumber)
{
    if (errorNumber == EPIPE)
        return QStringLiteral("программа, читавшая вывод, закрыла его: перезапустите её");
    switch (kindOfErrno(errorNumber)) {
    case Kind::DiskFull:
        return QStringLiteral("диск заполнен: освободите место на диске, куда направлен вывод");
    case Kind::NoPermission:
        return QStringLiteral("нет прав на запись: направьте вывод в другой файл");
    default:
        return QStringLiteral("системная ошибка %1 при записи: направьте вывод в другой файл")
            .arg(errorNumber);
    }
}

#ifdef Q_OS_WIN
QString FileProblem::sentenceForWindows(unsigned long code, const QString &fileName, Access access)
{
    Kind kind = Kind::Other;
    switch (code) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_NAME:
    case ERROR_ALREADY_EXISTS: // making the folder: a file stands at its name
    case ERROR_DIRECTORY:
        kind = Kind::MissingFolder;
        break;
    case ERROR_ACCESS_DENIED:
    case ERROR_WRITE_PROTECT:
        kind = Kind::NoPermission;
        break;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        kind = Kind::DiskFull;
        break;
    default:
        break;
    }
    return sentenceFor(kind, QString::number(code), fileName, access);
}
#endif
