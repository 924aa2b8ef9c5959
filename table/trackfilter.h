#pragma once

#include "table/trackmeasures.h"

#include <QString>
#include <vector>

// A track as the table lists it: its measures and the marks it carries.
struct TrackRow
{
    TrackMeasure measure;
    bool error = false;
    bool picked = false;
    bool reviewed = false;
};

// What the track table's filter line asks for: comparisons of a row's
// measures with numbers ("jump > 15", "gaps >= 1", "points < 50") or words
// ("kind = error", "reviewed = no"), joined with "and". Image numbers are
// counted from 1, as the window shows them; the jump is compared as shown,
// to one decimal. A track without the measure (no step, no point) matches
// no comparison but "!=". Case and spaces do not matter; an empty filter
// takes every row.
class TrackFilter
{
public:
    enum class Field { Id, Kind, First, Last, Points, Gaps, Jump, At, Picked, Reviewed };

    // False, with why saying what is wrong in a sentence for the user, when
    // text is not a filter; filter is then left as it was.
    static bool Parse(const QString &text, TrackFilter &filter, QString &why);

    bool Matches(const TrackRow &row) const;
    bool IsEmpty() const { return conditions.empty(); }
    // Whether a condition looks at field (the table filters again when it changes).
    bool Uses(Field field) const;

private:
    enum class Op { Less, LessOrEqual, Greater, GreaterOrEqual, Equal, NotEqual };
    struct Condition
    {
        Field field;
        Op op;
        double value;
    };
    std::vector<Condition> conditions;
};
