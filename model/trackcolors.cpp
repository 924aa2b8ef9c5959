#include "model/trackcolors.h"

#include <algorithm>
#include <cstdlib>
#include <ctime>
#include <vector>

namespace {

// A draw from rand() uniform over 0 .. bound - 1, built from as many 15-bit
// pieces as the bound needs, so the shuffle stays uniform for huge track sets.
unsigned long long RandomBelow(unsigned long long bound)
{
    unsigned long long value = static_cast<unsigned long long>(std::rand()) & 0x7FFF;
    unsigned long long range = 0x7FFF;
    while (range < bound - 1) {
        value = (value << 15) + (static_cast<unsigned long long>(std::rand()) & 0x7FFF);
        range = (range << 15) + 0x7FFF;
    }
    return value % bound;
}

} // namespace

void AssignTrackColors(const TrackTable &tracks, ColorTable &colors)
{
    const size_t n = tracks.size();
    if (n == 0)
        return;
    colors.clear();

    std::vector<float> fractions(n);
    for (size_t k = 0; k < n; ++k)
        fractions[k] = static_cast<float>(k);
    for (size_t j = 1; j < n; ++j)
        std::swap(fractions[j], fractions[RandomBelow(j + 1)]);
    for (float &f : fractions)
        f /= static_cast<float>(n);

    // Built in ascending id order, so every insertion goes to the end of the map.
    size_t k = 0;
    for (const auto &track : tracks) {
        const float f = fractions[k++];
        colors.emplace_hint(colors.end(), track.first, QColor::fromHsvF(f, f, f, 1.0f));
    }
}

int MidHueOfWidestGap(const QList<QColor> &colours)
{
    const int n = colours.size();
    if (n == 0)
        return 0;
    std::vector<int> hues;
    hues.reserve(n);
    for (const QColor &colour : colours)
        hues.push_back(colour.hue() % 360);
    std::sort(hues.begin(), hues.end());

    int widest = 0;
    int best = 0;
    for (int i = 0; i < n; ++i) {
        int gap = hues[(i + 1) % n] - hues[i];
        if (gap < 0)
            gap += 360;
        if (gap > widest) {
            widest = gap;
            best = i;
        }
    }
    const int a = hues[best];
    const int b = hues[(best + 1) % n];
    if (a > b) {
        int m = (a + b + 360) / 2;
        if (m >= 360)
            m -= 360;
        return m;
    }
    return (a + b) / 2;
}

QColor RandomTrackColor()
{
    std::srand(static_cast<unsigned int>(std::time(nullptr)));
    const int hue = std::rand() % 360;
    const int value = 128 + std::rand() % 128;
    QColor colour;
    colour.setHsv(hue, 255, value, 255);
    return colour;
}

QColor ContrastingTrackColor(const QList<QColor> &neighbours)
{
    if (neighbours.isEmpty())
        return RandomTrackColor();
    int hue = 0;
    if (neighbours.size() == 1) {
        hue = neighbours.first().toHsv().hue() - 180;
        if (hue < 0)
            hue += 360;
    } else {
        QList<QColor> hsv;
        for (const QColor &colour : neighbours)
            hsv << colour.toHsv();
        hue = MidHueOfWidestGap(hsv);
    }
    return QColor::fromHsv(hue, 255, 255, 255);
}

QColor BrightTrackColor(const QColor &colour)
{
    const int hue = colour.hsvHue();
    return hue < 0 ? QColor(Qt::white) : QColor::fromHsv(hue, 230, 255);
}
