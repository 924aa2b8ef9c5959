#include "table/trackfilter.h"

#include <QCoreApplication>
#include <QLocale>
#include <QRegularExpression>
#include <cmath>

namespace {

QString Tr(const char *text) { return QCoreApplication::translate("TrackFilter", text); }

struct FieldName
{
    const char *name;
    TrackFilter::Field field;
};

// The words a condition starts with; "image" and "at" name the image of the
// largest jump, as the column "At Image" does.
const FieldName kFields[] = {
    { "id", TrackFilter::Field::Id },
    { "kind", TrackFilter::Field::Kind },
    { "first", TrackFilter::Field::First },
    { "last", TrackFilter::Field::Last },
    { "points", TrackFilter::Field::Points },
    { "gaps", TrackFilter::Field::Gaps },
    { "jump", TrackFilter::Field::Jump },
    { "at", TrackFilter::Field::At },
    { "image", TrackFilter::Field::At },
    { "picked", TrackFilter::Field::Picked },
    { "reviewed", TrackFilter::Field::Reviewed },
};

bool IsWordField(TrackFilter::Field field)
{
    return field == TrackFilter::Field::Kind || field == TrackFilter::Field::Picked
        || field == TrackFilter::Field::Reviewed;
}

// The value a row has for field as the filter compares it; NaN for none.
double ValueOf(const TrackRow &row, TrackFilter::Field field)
{
    const TrackMeasure &m = row.measure;
    const double none = std::nan("");
    switch (field) {
    case TrackFilter::Field::Id:
        return m.id;
    case TrackFilter::Field::Kind:
        return row.error ? 1.0 : 0.0;
    case TrackFilter::Field::First:
        return m.first < 0 ? none : m.first + 1.0;
    case TrackFilter::Field::Last:
        return m.last < 0 ? none : m.last + 1.0;
    case TrackFilter::Field::Points:
        return m.points;
    case TrackFilter::Field::Gaps:
        return m.points == 0 ? none : m.gaps;
    case TrackFilter::Field::Jump:
        // As the table shows it, to one decimal.
        return m.jumpImage < 0 ? none : std::round(static_cast<double>(m.jump) * 10.0) / 10.0;
    case TrackFilter::Field::At:
        return m.jumpImage < 0 ? none : m.jumpImage + 1.0;
    case TrackFilter::Field::Picked:
        return row.picked ? 1.0 : 0.0;
    case TrackFilter::Field::Reviewed:
        return row.reviewed ? 1.0 : 0.0;
    }
    return none;
}

} // namespace

bool TrackFilter::Parse(const QString &text, TrackFilter &filter, QString &why)
{
    static const QRegularExpression joiner(QStringLiteral("\\s+and\\s+"),
                                           QRegularExpression::CaseInsensitiveOption);
    static const QRegularExpression comparison(
        QStringLiteral("^\\s*([A-Za-z]+)\\s*(<=|>=|==|!=|<>|<|>|=)\\s*(\\S+)\\s*$"));
    TrackFilter parsed;
    const QString whole = text.trimmed();
    if (whole.isEmpty()) {
        filter = parsed;
        return true;
    }
    // Spaces around the joiner, so that a filter ending in "and" leaves an
    // empty condition behind instead of a word "and".
    const QStringList parts = QStringLiteral(" %1 ").arg(whole).split(joiner);
    for (const QString &part : parts) {
        if (part.trimmed().isEmpty()) {
            why = Tr("A comparison is missing before or after \"and\".");
            return false;
        }
        const QRegularExpressionMatch match = comparison.match(part);
        if (!match.hasMatch()) {
            why = Tr("\"%1\" is not a comparison such as \"jump > 15\".").arg(part.trimmed());
            return false;
        }
        const QString name = match.captured(1).toLower();
        const auto known = std::find_if(std::begin(kFields), std::end(kFields),
                                        [&name](const FieldName &f) { return name == f.name; });
        if (known == std::end(kFields)) {
            why = Tr("There is no measure \"%1\"; use id, kind, first, last, points, gaps, jump, "
                     "at, picked or reviewed.")
                      .arg(match.captured(1));
            return false;
        }
        Condition condition { known->field, Op::Equal, 0.0 };
        const QString op = match.captured(2);
        if (op == QLatin1String("<"))
            condition.op = Op::Less;
        else if (op == QLatin1String("<="))
            condition.op = Op::LessOrEqual;
        else if (op == QLatin1String(">"))
            condition.op = Op::Greater;
        else if (op == QLatin1String(">="))
            condition.op = Op::GreaterOrEqual;
        else if (op == QLatin1String("!=") || op == QLatin1String("<>"))
            condition.op = Op::NotEqual;
        const QString value = match.captured(3).toLower();
        if (IsWordField(condition.field)) {
            if (condition.op != Op::Equal && condition.op != Op::NotEqual) {
                why = Tr("\"%1\" can only be compared with = or !=.").arg(name);
                return false;
            }
            const bool isKind = condition.field == Field::Kind;
            const QString yes = isKind ? QStringLiteral("error") : QStringLiteral("yes");
            const QString no = isKind ? QStringLiteral("non-error") : QStringLiteral("no");
            if (value != yes && value != no) {
                why = Tr("\"%1\" is %2 or %3, not \"%4\".").arg(name, yes, no, match.captured(3));
                return false;
            }
            condition.value = value == yes ? 1.0 : 0.0;
        } else {
            bool ok = false;
            condition.value = QLocale::c().toDouble(value, &ok);
            if (!ok || !std::isfinite(condition.value)) {
                why = Tr("\"%1\" is not a number.").arg(match.captured(3));
                return false;
            }
        }
        parsed.conditions.push_back(condition);
    }
    filter = parsed;
    return true;
}

bool TrackFilter::Matches(const TrackRow &row) const
{
    for (const Condition &c : conditions) {
        const double v = ValueOf(row, c.field);
        bool match = false;
        switch (c.op) {
        case Op::Less:
            match = v < c.value;
            break;
        case Op::LessOrEqual:
            match = v <= c.value;
            break;
        case Op::Greater:
            match = v > c.value;
            break;
        case Op::GreaterOrEqual:
            match = v >= c.value;
            break;
        case Op::Equal:
            match = v == c.value;
            break;
        case Op::NotEqual:
            match = !(v == c.value);
            break;
        }
        if (!match)
            return false;
    }
    return true;
}

bool TrackFilter::Uses(Field field) const
{
    return std::any_of(conditions.begin(), conditions.end(),
                       [field](const Condition &c) { return c.field == field; });
}
