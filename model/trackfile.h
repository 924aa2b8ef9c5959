#pragma once

#include "model/tracktypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdio>
#include <vector>

// The track file format: one file per image, one "x<TAB>y<TAB>id<LF>" record per
// track point, written "%f\t%f\t%d\n" with '.' as decimal separator whatever the
// user's locale.

// Adds the points of one file to table under image. False only when the file
// cannot be opened or read; malformed text is skipped (see the .cpp for the rules).
bool ReadTrackFile(const QByteArray &path, TrackTable &table, unsigned int image);

// One record of a file as read, before it is stored.
struct TrackRecord
{
    unsigned int id = 0;
    TrackPoint point;
};

// What reading one track file found besides its records.
struct TrackFileStatus
{
    // Why the file could not be read, in the words of a message ("it does not
    // exist", "it is not a regular file", or the system's reason).
    QString reason;
    // The file holds nothing but white space (or nothing at all).
    bool blank = true;
};

// The reading half of ReadTrackFile: the well-formed records of one file, in
// file order, appended to records. Touches nothing shared, so files can be
// parsed side by side. False for a path that is not a regular file, a read
// error, or once cancel (looked at every few thousand records, and inside
// long runs of text that is not a record) is set. Throws std::bad_alloc when
// the records do not fit in memory. bytesRead, if given, grows by what is
// read as it is read, for a progress display.
bool ParseTrackFile(const QByteArray &path, std::vector<TrackRecord> &records,
                    const std::atomic<bool> *cancel = nullptr, TrackFileStatus *status = nullptr,
                    std::atomic<qint64> *bytesRead = nullptr);

// Orders the records of one file by id, keeping of the records of one id only
// the last one read (the later line for an image wins). Files list their
// tracks in ascending id as a rule, so this usually only checks.
void SortRecordsById(std::vector<TrackRecord> &records);

// Writes the records of one image to file: the tracks of ids (in list order),
// or with invert every track of table not in ids (ascending id). False when a
// write failed (errno tells why).
bool WriteTrackRecords(FILE *file, const std::vector<unsigned int> &ids, const TrackTable &table,
                       unsigned int image, bool invert);

// The same records as a file of its own, written as a set of one file by
// TrackSetWriter (replaced whole, not waiting for the disk): false when
// anything failed, and then an existing file at path is left as it was.
bool WriteTrackFile(const QByteArray &path, const std::vector<unsigned int> &ids,
                    const TrackTable &table, unsigned int image, bool invert);

// base + zero-padded index + ".txt" for indexes 0 .. count - 1.
QStringList SaveFileNames(const QString &base, int count);

// Digits of count - 1 (at least 1); 0 when count is 0 or less.
int NumberWidth(int count);
