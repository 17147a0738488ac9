#pragma once

#include <QByteArray>
#include <QList>
#include <QPair>

// The modem's script storage: named files in insertion order within a fixed capacity.
// Not locked: the owner guards it.
class ScriptStore
{
public:
    using Entry = QPair<QByteArray, QByteArray>; // name, content

    static constexpr qint64 defaultCapacity = 2 * 1024 * 1024;

    qint64 freeBytes() const;
    // Whether a file of `size` bytes fits, counting the space of a file it would replace.
    bool fits(const QByteArray &name, qint64 size) const;

    // Replaces the content of an existing file in place, or appends a new one.
    void set(const QByteArray &name, const QByteArray &content);
    bool remove(const QByteArray &name);
    bool contains(const QByteArray &name) const { return indexOf(name) >= 0; }
    QByteArray content(const QByteArray &name) const;
    const QList<Entry> &entries() const { return mEntries; }

    // The listing lines, each ended by "\r\n": one per file, then the free space.
    QByteArray listing() const;

private:
    int indexOf(const QByteArray &name) const;
    qint64 usedBytes() const;

    QList<Entry> mEntries;
    qint64 mCapacity = defaultCapacity;
};
