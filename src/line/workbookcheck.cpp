#include "workbookcheck.h"

#include <QFile>
#include <QtEndian>
#include <zlib.h>

namespace WorkbookCheck {

namespace {
const QByteArray sheetEntry = "xl/worksheets/sheet1.xml";
const QByteArray sheetEnd = "</worksheet>";
const QByteArray endSignature("PK\x05\x06", 4);
const QByteArray entrySignature("PK\x01\x02", 4);
const QByteArray localSignature("PK\x03\x04", 4);
constexpr int endSize = 22;   // the end record, without a comment
constexpr int entrySize = 46; // a directory entry before its name
constexpr int localSize = 30; // a file's own header before its name
constexpr int deflated = 8;
constexpr int chunk = 1 << 16;

quint32 number32(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint32>(bytes.constData() + at);
}
quint16 number16(const QByteArray &bytes, int at)
{
    return qFromLittleEndian<quint16>(bytes.constData() + at);
}

struct Entry
{
    qint64 offset = -1; // of its local header
    qint64 packed = 0;
    qint64 size = 0;
    int method = 0;
};

// The sheet's entry in the zip's directory, which must end the file.
Entry findSheet(QFile &file)
{
    if (file.size() < endSize || !file.seek(file.size() - endSize))
        return Entry();
    const QByteArray end = file.read(endSize);
    if (end.size() != endSize || !end.startsWith(endSignature) ||
        qint64(number32(end, 12)) + number32(end, 16) + endSize != file.size() ||
        !file.seek(number32(end, 16)))
        return Entry();
    const QByteArray directory = file.read(number32(end, 12));
    for (int at = 0; at + entrySize <= directory.size();) {
        if (directory.mid(at, 4) != entrySignature)
            return Entry();
        const int nameLength = number16(directory, at + 28);
        const int skip = nameLength + number16(directory, at + 30) + number16(directory, at + 32);
        if (directory.mid(at + entrySize, nameLength) == sheetEntry) {
            Entry entry;
            entry.method = number16(directory, at + 10);
            entry.packed = number32(directory, at + 20);
            entry.size = number32(directory, at + 24);
            entry.offset = number32(directory, at + 42);
            return entry;
        }
        at += entrySize + skip;
    }
    return Entry();
}

// The sheet's XML unpacked, whole as the directory says, with its end kept.
bool sheetEndsWell(QFile &file, const Entry &entry)
{
    if (entry.offset < 0 || entry.method != deflated || !file.seek(entry.offset))
        return false;
    const QByteArray local = file.read(localSize);
    if (local.size() != localSize || !local.startsWith(localSignature) ||
        !file.seek(entry.offset + localSize + number16(local, 26) + number16(local, 28)))
        return false;
    z_stream stream{};
    if (inflateInit2(&stream, -MAX_WBITS) != Z_OK)
        return false;
    QByteArray out(chunk, '\0');
    QByteArray tail;
    qint64 left = entry.packed;
    qint64 unpacked = 0;
    int state = Z_OK;
    while (state == Z_OK && left > 0) {
        QByteArray in = file.read(qMin<qint64>(left, chunk));
        if (in.isEmpty())
            break;
        left -= in.size();
        stream.next_in = reinterpret_cast<Bytef *>(in.data());
        stream.avail_in = uInt(in.size());
        do {
            stream.next_out = reinterpret_cast<Bytef *>(out.data());
            stream.avail_out = uInt(out.size());
            state = inflate(&stream, Z_NO_FLUSH);
            const int produced = out.size() - int(stream.avail_out);
            unpacked += produced;
            tail = (tail + out.left(produced)).right(sheetEnd.size() * 4);
        } while (state == Z_OK && stream.avail_out == 0);
    }
    inflateEnd(&stream);
    return state == Z_STREAM_END && unpacked == entry.size && tail.trimmed().endsWith(sheetEnd);
}
} // namespace

bool complete(const QString &fileName)
{
    QFile file(fileName);
    if (!file.open(QIODevice::ReadOnly))
        return false;
    return sheetEndsWell(file, findSheet(file));
}

} // namespace WorkbookCheck
