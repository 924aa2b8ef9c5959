#pragma once

#include "model/tracktypes.h"

#include <QString>
#include <QStringList>
#include <atomic>
#include <cstdio>
#include <vector>

// Tracks as a table with one row per point, for spreadsheets, Python or R,
// and tables of points from other trackers; no widget involved.

// Writes "id,kind,image,x,y" and one row per point of the tracks: ids
// ascending, for one id the non-error track before the error track, then
// images ascending. kind is "non-error" or "error"; images count from 0 as in
// the track files; x and y are written with '.' whatever the locale, in the
// fewest digits that read back as the same value. A null id list stands for
// every track of its table, else only the ids listed (ascending) are written.
// False when a write failed (errno tells why).
bool WriteTracksCsv(FILE *file, const TrackTable &nonError, const TrackTable &error,
                    const std::vector<unsigned int> *nonErrorIds = nullptr,
                    const std::vector<unsigned int> *errorIds = nullptr);

// What a table of points held.
struct CsvTracks
{
    // Without a kind column every track is in nonError, and the user says
    // which kind it is.
    bool hasKind = false;
    TrackTable nonError;
    TrackTable error;
    qint64 points = 0;
    // Rows that could not be read, and the first few of them named
    // ("line 7: no number for x").
    qint64 unreadable = 0;
    QStringList unreadableRows;
    // Points on an image that their track already had a point on: the first
    // one is kept.
    qint64 repeated = 0;
    QStringList repeatedRows;
};

// How many rows of each problem are named.
constexpr int kCsvRowsNamed = 5;

// Reads a table with a header row whose columns are found by name, in any
// letter case: the track id (track_id, track or id), the image (image, frame,
// slice, t or z), x (x or position_x), y (y or position_y) and, if present,
// kind. Fields are separated by commas, semicolons or tabs (whichever the
// header uses) and may be quoted; where the separator is not a comma a decimal
// comma is read too. Rows under the header that hold no numbers (units) are
// skipped. False with why when the table lacks a needed column or holds no
// point, or once cancel is set.
bool ParseTracksCsv(const char *begin, const char *end, CsvTracks &out, QString &why,
                    const std::atomic<bool> *cancel = nullptr);
bool ReadTracksCsv(const QString &path, CsvTracks &out, QString &why,
                   const std::atomic<bool> *cancel = nullptr);
