#include "review/idlistitem.h"

namespace {

// The texts' character order as a number: the digits padded with zeros to ten
// places, a shorter text first on a tie ("1" < "10" < "100" < "11" < "2").
quint64 TextOrderKey(unsigned int id)
{
    int digits = 1;
    for (unsigned int rest = id / 10; rest > 0; rest /= 10)
        ++digits;
    quint64 padded = id;
    for (int d = digits; d < 10; ++d)
        padded *= 10;
    return padded * 16 + static_cast<quint64>(digits);
}

} // namespace

IdListItem::IdListItem(unsigned int id)
    : QListWidgetItem(nullptr, kType)
    , id(id)
{
}

QVariant IdListItem::data(int role) const
{
    if (role == Qt::DisplayRole || role == Qt::EditRole) {
        // A text set on the entry afterwards is shown instead.
        const QVariant set = QListWidgetItem::data(role);
        return set.isValid() ? set : QVariant(QString::number(id));
    }
    return QListWidgetItem::data(role);
}

bool IdListItem::operator<(const QListWidgetItem &other) const
{
    if (other.type() == kType && !QListWidgetItem::data(Qt::DisplayRole).isValid()
        && !other.QListWidgetItem::data(Qt::DisplayRole).isValid())
        return TextOrderKey(id) < TextOrderKey(static_cast<const IdListItem &>(other).id);
    return QListWidgetItem::operator<(other);
}

QListWidgetItem *IdListItem::clone() const { return new IdListItem(*this); }

bool IdListItem::IdOfText(const QString &text, unsigned int &id)
{
    if (text.isEmpty() || text.size() > 10 || (text.size() > 1 && text.front() == u'0'))
        return false;
    quint64 value = 0;
    for (const QChar c : text) {
        if (c < u'0' || c > u'9')
            return false;
        value = value * 10 + static_cast<quint64>(c.unicode() - u'0');
    }
    if (value > 4294967295ULL)
        return false;
    id = static_cast<unsigned int>(value);
    return true;
}
