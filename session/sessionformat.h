#pragma once

#include "session/sessionrecord.h"

#include <QByteArray>
#include <QString>

// The session file: a review as one JSON object (format in the README), its
// paths relative to the session file's folder when they lie below it. No
// widget involved.

// The format written; files of a later version are refused.
constexpr int kSessionFormatVersion = 1;
// The file name extension of session files, without the dot.
inline QString SessionSuffix() { return QStringLiteral("strandsight"); }

// record as the JSON text of a session file at sessionPath.
QByteArray SessionToJson(const SessionRecord &record, const QString &sessionPath);

// Reads a session file's text into record. False, with why saying what is
// wrong in words a user can act on, for text that is not JSON, not a session,
// of a newer version, or holding a value of the wrong type or range; record is
// left as it was then.
bool SessionFromJson(const QByteArray &json, const QString &sessionPath, SessionRecord &record,
                     QString &why);

// Writes record to path all or nothing (a temporary file beside it, flushed
// to disk, renamed over it): an interrupted or failed write leaves the old
// file whole. False with why (the system's reason) when nothing was written.
bool WriteSessionFile(const QString &path, const SessionRecord &record, QString &why);

// Reads and checks the session file at path; false with why as above, or
// when the file cannot be read.
bool ReadSessionFile(const QString &path, SessionRecord &record, QString &why);
