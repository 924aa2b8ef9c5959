// A recovery session for tools/fault-check-autosave.sh to kill: writes one
// through the program's own autosave path (the changes found behind the
// windows, the file written all or nothing).
//
//   faultautosave FILE TRACKS VARIANT
//
// TRACKS tracks of 100 points are loaded; VARIANT moves all of them, so that
// sessions of different variants differ throughout and are large enough to
// take a while. Exit code 0 when written, 1 with the reason on stderr when
// not, 2 for bad arguments.
#include "session/reviewsnapshot.h"

#include <cstdio>
#include <memory>

int main(int argc, char *argv[])
{
    if (argc != 4) {
        std::fprintf(stderr, "usage: faultautosave FILE TRACKS VARIANT\n");
        return 2;
    }
    const QString path = QString::fromLocal8Bit(argv[1]);
    const int tracks = QByteArray(argv[2]).toInt();
    const int variant = QByteArray(argv[3]).toInt();
    if (tracks <= 0)
        return 2;

    auto loaded = std::make_shared<TrackTable>();
    ReviewSnapshot snapshot;
    const float shift = 0.125f * static_cast<float>(variant + 1);
    for (int id = 0; id < tracks; ++id) {
        const unsigned int key = static_cast<unsigned int>(id) * 7u;
        PointMap &before = (*loaded)[key];
        PointMap &after = snapshot.now[0][key];
        for (unsigned int image = 0; image < 100; ++image) {
            const TrackPoint point { static_cast<float>(id % 2048) + 0.3f,
                                     static_cast<float>(image) };
            before.insert_or_assign(image, point);
            after.insert_or_assign(image, TrackPoint { point.x + shift, point.y });
        }
    }
    snapshot.loaded[0] = loaded;
    snapshot.record.saved = QDateTime(QDate(2026, 12, 7), QTime(12, 0), Qt::UTC);
    snapshot.record.picks = QStringList { QString::number(variant) };
    QString why;
    if (!WriteSnapshot(snapshot, path, why)) {
        std::fprintf(stderr, "faultautosave: %s\n", qPrintable(why));
        return 1;
    }
    return 0;
}
