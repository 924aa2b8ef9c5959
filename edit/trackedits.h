#pragma once

#include "edit/trackchange.h"
#include "model/tracktypes.h"

#include <QColor>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>
#include <vector>

// The registry's four tables, as the view window keeps them; edits read and
// write them through this.
struct TrackRegistry
{
    TrackTable &corrTracks;
    TrackTable &errTracks;
    ColorTable &corrColors;
    ColorTable &errColors;

    TrackTable &Tracks(bool error) const { return error ? errTracks : corrTracks; }
    ColorTable &Colors(bool error) const { return error ? errColors : corrColors; }
    const PointMap *Find(TrackKey key) const;
    TrackState State(TrackKey key) const;
};

// Whether a track is in the picked list.
using PickedTest = std::function<bool(TrackKey)>;

// An edit worked out against the registry, not yet carried out: the step,
// and the status-bar text saying what it does, or, with an empty step, why
// it cannot be done.
struct EditPlan
{
    TrackEdit edit;
    QString message;

    bool Refused() const { return edit.IsEmpty(); }
};

// The edits, planned without touching the registry. image is the current
// image (an index); keys may repeat.

// Puts the track's point on image at point: moves it, or adds one where the
// track has none.
EditPlan PlanPlacePoint(const TrackRegistry &registry, TrackKey key, int image, TrackPoint point);
// Removes the tracks' points on image; a track left with none is deleted.
EditPlan PlanDeletePoints(const TrackRegistry &registry, std::vector<TrackKey> keys, int image,
                          const PickedTest &picked);
EditPlan PlanDeleteTracks(const TrackRegistry &registry, std::vector<TrackKey> keys,
                          const PickedTest &picked);
// The points on image and after it become a new track of the same kind,
// with the smallest id above every id of that kind and the colour colourFor
// gives its points.
EditPlan PlanSplitTrack(const TrackRegistry &registry, TrackKey key, int image,
                        const std::function<QColor(const PointMap &)> &colourFor);
// The later of the two tracks (by first image) joins the earlier, which
// keeps its id and colour.
EditPlan PlanJoinTracks(const TrackRegistry &registry, TrackKey key, unsigned int otherId,
                        const PickedTest &picked);
// The tracks move to the other kind with their ids, points, colours and picks.
EditPlan PlanChangeKind(const TrackRegistry &registry, std::vector<TrackKey> keys,
                        const PickedTest &picked);
// A track created by hand enters the registry.
EditPlan PlanAddTrack(TrackKey key, const PointMap &points, const QColor &colour);
// Picks added to and removed from the picked list (pick texts).
EditPlan PlanPickChange(const QString &name, const QStringList &added, const QStringList &removed);

// The likeliest continuation of track id among the tracks of table: a
// track that starts after it ends or ends before it starts, with the fewest
// images between them, then the shortest distance between the facing end
// points, then the smallest id. None when no track qualifies.
std::optional<unsigned int> ProposeJoin(const TrackTable &table, unsigned int id);

// "track 12" or "error track 12", for messages.
QString TrackName(TrackKey key);
