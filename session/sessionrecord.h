#pragma once

// What a session holds: the files a review was made on, what changed in their tracks since they
// were loaded, and where the review stood; no widget involved.

#include "model/tracktypes.h"

#include <QDateTime>
#include <QPointF>
#include <QString>
#include <QStringList>
#include <map>
#include <vector>

// One input file as it was when it was loaded: a session opened later tells
// the user when the file is gone or has been changed since.
struct SessionFile
{
    QString path; // absolute
    qint64 size = -1;
    QDateTime modified; // UTC, to the millisecond
};

// The file as it is now on disk (size -1 and no time when it is missing).
SessionFile DescribeFile(const QString &path);
std::vector<SessionFile> DescribeFiles(const QStringList &paths);
QStringList FilePaths(const std::vector<SessionFile> &files);

// What the tracks of one kind became since they were loaded: tracks whose
// points changed and tracks created, each with all its points, and the ids of
// tracks deleted.
struct TrackChanges
{
    TrackTable changed;
    std::vector<unsigned int> deleted; // ascending

    bool Empty() const { return changed.empty() && deleted.empty(); }
};

// Where the tracks of one kind came from.
enum class TrackSource {
    None, // never loaded: only tracks created by hand, if any
    TrackFiles, // a set of track files, file i holding image i
    Csv // a table imported from one CSV file
};

struct SessionTracks
{
    TrackSource source = TrackSource::None;
    std::vector<SessionFile> files;
    TrackChanges changes;
    std::vector<unsigned int> reviewed; // ascending
};

// Which track the review was on.
struct SessionTrackRef
{
    bool set = false;
    bool error = false;
    unsigned int id = 0;
};

struct SessionRecord
{
    QDateTime saved; // UTC
    std::vector<SessionFile> images;
    SessionTracks nonError;
    SessionTracks error;
    QStringList picks; // pick texts in list order: "12", "E7"
    int image = 0; // the image shown
    // The view: fitted to the window, or zoomed (screen pixels per image
    // pixel) about a centre in image pixels.
    bool fitted = true;
    double zoom = 1.0;
    QPointF centre;
    SessionTrackRef currentTrack;
    int markerRadius = 10;
    bool outlineMarkers = false;
    // Options of the windows by name (View menu toggles and the like).
    std::map<QString, bool> options;
    // In a recovery session only: the session file the review was last
    // saved to, if any.
    QString sessionFile;

    SessionTracks &Tracks(bool errorKind) { return errorKind ? error : nonError; }
    const SessionTracks &Tracks(bool errorKind) const { return errorKind ? error : nonError; }
};

// The input files of record that are missing or differ in size or time from
// what the record says, each as "path (missing)" or "path (changed)".
QStringList ChangedFiles(const SessionRecord &record);
