#pragma once

#include "model/tracktypes.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <vector>

// The track file format: one file per image, one "x<TAB>y<TAB>id<LF>" record per
// track point, written "%f\t%f\t%d\n" with '.' as decimal separator whatever the
// user's locale.

// Adds the points of one file to table under image. False only when the file
// cannot be opened or read; malformed text is skipped (see the .cpp for the rules).
bool ReadTrackFile(const QByteArray &path, TrackTable &table, unsigned int image);

// Writes the records of one image: the tracks of ids (in list order), or with
// invert every track of table not in ids (ascending id). The file is written
// beside its target and moved into place only when complete; false when
// anything failed, and then an existing file at path is left as it was.
bool WriteTrackFile(const QByteArray &path, const std::vector<unsigned int> &ids,
                    const TrackTable &table, unsigned int image, bool invert);

// base + zero-padded index + ".txt" for indexes 0 .. count - 1.
QStringList SaveFileNames(const QString &base, int count);

// Digits of count - 1 (at least 1); 0 when count is 0 or less.
int NumberWidth(int count);
