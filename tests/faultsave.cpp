// A save for tools/fault-check.sh to kill: writes one set of track files
// through the program's own set writer, as saving picked tracks does.
//
//   faultsave DIR BASE FILES TRACKS VARIANT [fail-rename]
//
// Every track has a point on every image; VARIANT moves the points, so that
// saves of different variants differ in every file. With fail-rename, the
// rename of the middle file fails (its temporary file is removed just before),
// after the files before it have been replaced. Exit code 0 when the set was
// written, 1 with the reason on stderr when not, 2 for bad arguments.
#include "model/trackfile.h"
#include "model/tracksetwriter.h"

#include <QDir>
#include <QFile>
#include <cstdio>

int main(int argc, char *argv[])
{
    const bool failRename = argc == 7 && QByteArray(argv[6]) == "fail-rename";
    if (argc != 6 && !failRename) {
        std::fprintf(stderr, "usage: faultsave DIR BASE FILES TRACKS VARIANT [fail-rename]\n");
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
    const QDir folder(directory);
    const QStringList names = SaveFileNames(base, files);
    QStringList paths;
    for (const QString &name : names)
        paths << folder.filePath(name);
    TrackSetWriter writer(paths);
    if (failRename) {
        const int victim = files / 2;
        writer.SetProgress([&folder, &names, victim](TrackSetWriter::Stage stage, int done) {
            if (stage == TrackSetWriter::Stage::Replacing && done == victim) {
                const QStringList temporaries = folder.entryList(
                    { QLatin1Char('.') + names[victim] + QStringLiteral(".strandsight-*") },
                    QDir::Files | QDir::Hidden);
                for (const QString &temporary : temporaries) {
                    if (!temporary.endsWith(QLatin1String(".old")))
                        QFile::remove(folder.filePath(temporary));
                }
            }
            return true;
        });
    }
    if (!writer.Write([&](FILE *file, int image) {
            return WriteTrackRecords(file, {}, table, static_cast<unsigned int>(image), true);
        })) {
        const TrackSetWriter::Failure &failure = writer.LastFailure();
        std::fprintf(stderr, "faultsave: %s: %s\n", qPrintable(failure.name),
                     qPrintable(failure.reason));
        return 1;
    }
    return 0;
}
