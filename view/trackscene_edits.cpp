#include "view/trackscene.h"

#include "model/errorfiber.h"
#include "model/normalfiber.h"

#include <algorithm>

namespace {

// Removing markers one at a time is quick for a few; for many the scene is
// rebuilt without them (see DeleteMarkers).
const size_t kMarkersRemovedOneByOne = 32;

template <typename Marker> Marker *FindIn(const std::vector<Marker *> &markers, unsigned int id)
{
    const auto it = std::find_if(markers.begin(), markers.end(),
                                 [id](const Marker *marker) { return marker->id == id; });
    return it == markers.end() ? nullptr : *it;
}

} // namespace

Fiber *TrackScene::FindFiber(TrackKey key) const
{
    if (key.error)
        return FindIn(errorFibers, key.id);
    return FindIn(normalFibers, key.id);
}

QGraphicsItem *TrackScene::FindMarker(TrackKey key) const
{
    if (key.error)
        return FindIn(errorFibers, key.id);
    return FindIn(normalFibers, key.id);
}

template <typename Marker> void TrackScene::RepaintAround(const Marker *marker)
{
    if (marker->Shown())
        RepaintMarkersAt(marker->ShownAt());
}

void TrackScene::SyncFibers(bool error, const TrackTable &tracks, const ColorTable &colors,
                            std::vector<unsigned int> ids)
{
    std::sort(ids.begin(), ids.end());
    ids.erase(std::unique(ids.begin(), ids.end()), ids.end());
    if (ids.empty())
        return;
    std::vector<bool> hasMarker(ids.size(), false);
    std::vector<unsigned int> gone;
    const auto update = [&](auto &markers) {
        for (auto *marker : markers) {
            const auto at = std::lower_bound(ids.begin(), ids.end(), marker->id);
            if (at == ids.end() || *at != marker->id)
                continue;
            hasMarker[static_cast<size_t>(at - ids.begin())] = true;
            const auto track = tracks.find(marker->id);
            const auto colour = colors.find(marker->id);
            if (track == tracks.end() || colour == colors.end()) {
                gone.push_back(marker->id);
                continue;
            }
            RepaintAround(marker);
            if (marker->color != colour->second) {
                marker->color = colour->second;
                marker->rgb = colour->second.rgba();
                marker->ApplyColor();
            }
            marker->SetPoints(track->second);
            marker->Refresh();
            RepaintAround(marker);
        }
    };
    if (error)
        update(errorFibers);
    else
        update(normalFibers);

    if (gone.size() > kMarkersRemovedOneByOne) {
        DeleteMarkers([&gone, error](const Fiber &fiber) {
            return fiber.error == error && std::binary_search(gone.begin(), gone.end(), fiber.id);
        });
    } else {
        const auto remove = [this, &gone](auto &markers) {
            for (auto it = markers.begin(); it != markers.end();) {
                if (std::binary_search(gone.begin(), gone.end(), (*it)->id)) {
                    RepaintAround(*it);
                    removeItem(*it);
                    delete *it;
                    it = markers.erase(it);
                    // Whoever kept a pointer to a marker looks again.
                    ++markerSetVersion;
                } else {
                    ++it;
                }
            }
        };
        if (error)
            remove(errorFibers);
        else
            remove(normalFibers);
    }

    for (size_t i = 0; i < ids.size(); ++i) {
        const auto track = tracks.find(ids[i]);
        const auto colour = colors.find(ids[i]);
        if (hasMarker[i] || track == tracks.end() || colour == colors.end())
            continue;
        AddMarker(error, ids[i], track->second, colour->second);
        const auto show = [this](auto *marker) {
            if (!creating)
                marker->ShowFiber();
            RepaintAround(marker);
        };
        if (error)
            show(errorFibers.back());
        else
            show(normalFibers.back());
    }
    // Markers changed where none is drawn too (on other images): the paths
    // and the hovered track are found again all the same.
    hoverStale = true;
    markedGeneration = 0;
    QGraphicsScene::update();
}

void TrackScene::PreviewPoint(TrackKey key, QPointF at)
{
    const auto preview = [this, at](auto *marker) {
        if (!marker)
            return;
        RepaintMarkersAt(marker->ShownAt());
        marker->PreviewAt(at);
        RepaintMarkersAt(marker->ShownAt());
    };
    if (key.error)
        preview(FindIn(errorFibers, key.id));
    else
        preview(FindIn(normalFibers, key.id));
}

void TrackScene::EndPointPreview(TrackKey key)
{
    const auto refresh = [this](auto *marker) {
        if (!marker)
            return;
        RepaintMarkersAt(marker->pos());
        marker->Refresh();
        RepaintAround(marker);
    };
    if (key.error)
        refresh(FindIn(errorFibers, key.id));
    else
        refresh(FindIn(normalFibers, key.id));
}

void TrackScene::SetMarkedPaths(std::vector<TrackKey> keys)
{
    if (keys == markedPaths)
        return;
    markedPaths = std::move(keys);
    markedFibers.clear();
    markedGeneration = 0;
    update();
}

const std::vector<const Fiber *> &TrackScene::MarkedFibers() const
{
    // markerGeneration starts above 0 once any marker changed; 0 means
    // not looked up yet.
    if (markedGeneration != markerGeneration || markedGeneration == 0) {
        markedFibers.clear();
        for (const TrackKey &key : markedPaths) {
            if (const Fiber *fiber = FindFiber(key))
                markedFibers.push_back(fiber);
        }
        markedGeneration = markerGeneration;
    }
    return markedFibers;
}
