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
    // Measured with the benchmark (resident memory added by a load): a point
    // is 12 bytes, held once by the registry and shared with its marker; a
    // track costs about 760 bytes in all, nearly all of it the marker's
    // graphics item (about 470) and its list entry (about 100), the rest its
    // array's header, its table and colour entries.
    return points * 12 + tracks * 760;
}
