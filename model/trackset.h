#pragma once

#include "model/tracksetreader.h"
#include "model/tracksetwriter.h"
#include "model/tracktypes.h"

#include <QString>
#include <QStringList>
#include <vector>

// A set of track files read or written whole, one file per image.

// Reads the set into table, paths[i] as image i, as ReadTrackFile would one
// after the other, on helper threads (TrackSetReader); waits for the end.
// table is replaced only by a complete read.
TrackSetRead ReadTrackSet(const QStringList &paths, TrackTable &table);

// Saves a set of count files into directory, named as SaveFileNames names
// them, file i holding the records of image i (as WriteTrackRecords writes
// them), all or nothing. False with failure set when it was not saved.
bool WriteTrackSet(const QString &directory, const QString &base, int count,
                   const std::vector<unsigned int> &ids, const TrackTable &table, bool invert,
                   TrackSetWriter::Failure &failure);

// Memory that a loaded set of tracks takes in all (the registry, the markers
// and the id list), for refusing a set that cannot fit before it is built.
qint64 EstimateLoadedBytes(qint64 tracks, qint64 points);
