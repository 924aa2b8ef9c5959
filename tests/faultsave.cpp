// A save for tools/fault-check.sh to kill: writes one set of track files
// through the program's own set writer, as saving picked tracks does.
//
//   faultsave DIR BASE FILES TRACKS VARIANT
//
// Every track has a point on every image; VARIANT moves the points, so that
// saves of different variants differ in every file. Exit code 0 when the set
// was written, 1 with the reason on stderr when not, 2 for bad arguments.
#include "model/trackfile.h"
#include "model/trackset.h"

#include <cstdio>

int main(int argc, char *argv[])
{
    if (argc != 6) {
        std::fprintf(stderr, "usage: faultsave DIR BASE FILES TRACKS VARIANT\n");
        return 2;
    }
    const QString directory = QString::fromLocal8Bit(argv[1]);
    const QString base = QString::fromLocal8Bit(argv[2]);
    const int files = QByteArray(argv[3]).toInt();
    const int tracks = QByteArray(argv[4]).toInt();
    const int variant = QByteArray(argv[5]).toInt();
    if (files <= 0 || tracks <= 0)
        return 2;

    TrackTable table;
    for (int id = 0; id < tracks; ++id) {
        PointMap &points = table[static_cast<unsigned int>(id) * 7u];
        for (int image = 0; image < files; ++image)
            points.emplace_hint(points.end(), static_cast<unsigned int>(image),
                                TrackPoint { static_cast<float>(id % 2048) + 0.25f * variant,
                                             static_cast<float>(image + variant) });
    }
    TrackSetWriter::Failure failure;
    if (!WriteTrackSet(directory, base, files, {}, table, true, failure)) {
        std::fprintf(stderr, "faultsave: %s: %s\n", qPrintable(failure.name),
                     qPrintable(failure.reason));
        return 1;
    }
    return 0;
}
