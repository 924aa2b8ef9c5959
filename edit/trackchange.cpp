#include "edit/trackchange.h"

namespace {

// A point held by a step: a node of a point map with its allocation
// overhead. Counted for both sides, although one of them is usually shared
// with the registry: the bound errs on the safe side.
const qint64 kBytesPerPoint = 48;
const qint64 kBytesPerChange = static_cast<qint64>(sizeof(TrackChange)) + 64;

} // namespace

qint64 TrackEdit::Bytes() const
{
    qint64 bytes = static_cast<qint64>(sizeof(TrackEdit)) + name.size() * 2;
    for (const TrackChange &change : changes) {
        bytes += kBytesPerChange;
        if (change.track)
            bytes += kBytesPerPoint
                * static_cast<qint64>(change.before.points.size() + change.after.points.size());
    }
    return bytes;
}

QString PickText(TrackKey key)
{
    return key.error ? QStringLiteral("E%1").arg(key.id) : QString::number(key.id);
}

bool PickKey(const QString &text, TrackKey &key)
{
    const bool error = text.startsWith(u'E');
    bool ok = false;
    const unsigned int id = (error ? text.mid(1) : text).toUInt(&ok, 10);
    if (!ok)
        return false;
    key = { error, id };
    return true;
}
