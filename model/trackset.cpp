#include "model/trackset.h"

#include "model/trackfile.h"

#include <QDir>

TrackSetRead ReadTrackSet(const QStringList &paths, TrackTable &table)
{
    TrackSetReader reader(paths);
    reader.Start();
    while (!reader.WaitForFinished(1000)) { }
    const TrackSetRead read = reader.Result();
    if (read.outcome == TrackSetRead::Complete)
        table = reader.TakeTable();
    return read;
}

bool WriteTrackSet(const QString &directory, const QString &base, int count,
                   const std::vector<unsigned int> &ids, const TrackTable &table, bool invert,
                   TrackSetWriter::Failure &failure)
{
    const QDir folder(directory);
    QStringList paths;
    for (const QString &name : SaveFileNames(base, count))
        paths << folder.filePath(name);
    TrackSetWriter writer(paths);
    if (writer.Write([&](FILE *file, int image) {
            return WriteTrackRecords(file, ids, table, static_cast<unsigned int>(image), invert);
        }))
        return true;
    failure = writer.LastFailure();
    return false;
}

qint64 EstimateLoadedBytes(qint64 tracks, qint64 points)
{
    // Measured with the benchmark: a point in the registry and in its marker,
    // and a track's marker, list entry and table entries.
    return points * 134 + tracks * 1500;
}
