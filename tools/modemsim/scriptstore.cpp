#include "scriptstore.h"

#include <algorithm>

qint64 ScriptStore::freeBytes() const
{
    return std::max<qint64>(0, mCapacity - usedBytes());
}

bool ScriptStore::fits(const QByteArray &name, qint64 size) const
{
    const int index = indexOf(name);
    const qint64 replaced = index < 0 ? 0 : mEntries.at(index).second.size();
    return size <= freeBytes() + replaced;
}

void ScriptStore::set(const QByteArray &name, const QByteArray &content)
{
    const int index = indexOf(name);
    if (index < 0)
        mEntries.append(Entry(name, content));
    else
        mEntries[index].second = content;
}

bool ScriptStore::remove(const QByteArray &name)
{
    const int index = indexOf(name);
    if (index < 0)
        return false;
    mEntries.removeAt(index);
    return true;
}

QByteArray ScriptStore::content(const QByteArray &name) const
{
    const int index = indexOf(name);
    return index < 0 ? QByteArray() : mEntries.at(index).second;
}

QByteArray ScriptStore::listing() const
{
    QByteArray text;
    for (const Entry &entry : mEntries)
        text +=
            "#LSCRIPT: \"" + entry.first + "\"," + QByteArray::number(entry.second.size()) + "\r\n";
    text += "#LSCRIPT: free bytes: " + QByteArray::number(freeBytes()) + "\r\n";
    return text;
}

int ScriptStore::indexOf(const QByteArray &name) const
{
    for (int i = 0; i < mEntries.size(); ++i) {
        if (mEntries.at(i).first == name)
            return i;
    }
    return -1;
}

qint64 ScriptStore::usedBytes() const
{
    qint64 used = 0;
    for (const Entry &entry : mEntries)
        used += entry.second.size();
    return used;
}
