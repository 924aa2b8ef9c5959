#include "session/sessionformat.h"

#include "model/tracksetwriter.h"

#include <QCoreApplication>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QJsonValue>
#include <QRegularExpression>
#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cfloat>
#include <cmath>
#include <cstdio>
#include <cstring>

namespace {

const char *const kFormatName = "Strandsight session";
const double kMaxId = 4294967295.0;
// Beyond this a double no longer holds every whole number.
const double kMaxWhole = 9007199254740992.0;

QString Tr(const char *text) { return QCoreApplication::translate("SessionFormat", text); }

QString StoredPath(const QString &path, const QDir &folder)
{
    const QString relative = folder.relativeFilePath(path);
    if (!QDir::isAbsolutePath(relative) && relative != QLatin1String("..")
        && !relative.startsWith(QLatin1String("../")))
        return relative;
    return QDir::cleanPath(path);
}

QString SourceName(TrackSource source)
{
    switch (source) {
    case TrackSource::TrackFiles:
        return QStringLiteral("trackFiles");
    case TrackSource::Csv:
        return QStringLiteral("csv");
    case TrackSource::None:
        break;
    }
    return QStringLiteral("none");
}

QJsonArray IdsToJson(const std::vector<unsigned int> &ids)
{
    QJsonArray array;
    for (const unsigned int id : ids)
        array.append(static_cast<double>(id));
    return array;
}

QJsonArray FilesToJson(const std::vector<SessionFile> &files, const QDir &folder)
{
    QJsonArray array;
    for (const SessionFile &file : files) {
        QJsonObject entry;
        entry.insert(QStringLiteral("path"), StoredPath(file.path, folder));
        entry.insert(QStringLiteral("size"), static_cast<double>(file.size));
        entry.insert(QStringLiteral("modified"),
                     file.modified.isValid()
                         ? QJsonValue(file.modified.toUTC().toString(Qt::ISODateWithMs))
                         : QJsonValue());
        array.append(entry);
    }
    return array;
}

// Points as [image, x, y]: x and y are single precision, and the double of a
// float is written exactly, so the track comes back bit for bit.
QJsonObject TracksToJson(const SessionTracks &tracks, const QDir &folder)
{
    QJsonArray changed;
    for (const auto &[id, points] : tracks.changes.changed) {
        QJsonArray list;
        for (const auto &[image, point] : points)
            list.append(QJsonArray { static_cast<double>(image), static_cast<double>(point.x),
                                     static_cast<double>(point.y) });
        changed.append(QJsonObject { { QStringLiteral("id"), static_cast<double>(id) },
                                     { QStringLiteral("points"), list } });
    }
    QJsonObject object;
    object.insert(QStringLiteral("source"), SourceName(tracks.source));
    object.insert(QStringLiteral("files"), FilesToJson(tracks.files, folder));
    object.insert(QStringLiteral("changed"), changed);
    object.insert(QStringLiteral("deleted"), IdsToJson(tracks.changes.deleted));
    object.insert(QStringLiteral("reviewed"), IdsToJson(tracks.reviewed));
    return object;
}

// Reads values of a parsed session, remembering the first thing wrong and
// where it was, as "nonError.changed[2].points".
class Reader
{
public:
    explicit Reader(QString &why)
        : why(why)
    {
    }

    bool Fail(const QString &where, const QString &what)
    {
        why = Tr("The session file is damaged: \"%1\" %2.").arg(where, what);
        return false;
    }

    bool Object(const QJsonValue &value, const QString &where, QJsonObject &out)
    {
        if (!value.isObject())
            return Fail(where, Tr("is not an object"));
        out = value.toObject();
        return true;
    }
    bool Array(const QJsonValue &value, const QString &where, QJsonArray &out)
    {
        if (!value.isArray())
            return Fail(where, Tr("is not a list"));
        out = value.toArray();
        return true;
    }
    bool String(const QJsonValue &value, const QString &where, QString &out)
    {
        if (!value.isString())
            return Fail(where, Tr("is not a text"));
        out = value.toString();
        return true;
    }
    bool Bool(const QJsonValue &value, const QString &where, bool &out)
    {
        if (!value.isBool())
            return Fail(where, Tr("is not true or false"));
        out = value.toBool();
        return true;
    }
    bool Whole(const QJsonValue &value, const QString &where, double min, double max, double &out)
    {
        const double number = value.toDouble();
        if (!value.isDouble() || !std::isfinite(number) || number != std::floor(number)
            || number < min || number > max)
            return Fail(where,
                        Tr("is not a whole number from %1 to %2")
                            .arg(QString::number(min, 'f', 0), QString::number(max, 'f', 0)));
        out = number;
        return true;
    }
    bool Id(const QJsonValue &value, const QString &where, unsigned int &out)
    {
        double number = 0;
        if (!Whole(value, where, 0, kMaxId, number))
            return false;
        out = static_cast<unsigned int>(number);
        return true;
    }
    // A coordinate that a track point can hold.
    bool Coordinate(const QJsonValue &value, const QString &where, float &out)
    {
        const double number = value.toDouble();
        if (!value.isDouble() || !std::isfinite(number) || std::fabs(number) > FLT_MAX)
            return Fail(where, Tr("is not a coordinate"));
        out = static_cast<float>(number);
        return true;
    }
    bool Time(const QJsonValue &value, const QString &where, QDateTime &out)
    {
        if (value.isNull()) {
            out = QDateTime();
            return true;
        }
        QString text;
        if (!String(value, where, text))
            return false;
        out = QDateTime::fromString(text, Qt::ISODateWithMs);
        if (!out.isValid())
            return Fail(where, Tr("is not a date and time"));
        out = out.toUTC();
        return true;
    }

    // An optional member: absent or null gives false without a failure.
    static bool Has(const QJsonObject &object, const char *key)
    {
        const QJsonValue value = object.value(QLatin1String(key));
        return !value.isUndefined() && !value.isNull();
    }

    bool Ids(const QJsonValue &value, const QString &where, std::vector<unsigned int> &out)
    {
        QJsonArray array;
        if (!Array(value, where, array))
            return false;
        out.clear();
        out.reserve(static_cast<size_t>(array.size()));
        for (qsizetype i = 0; i < array.size(); ++i) {
            unsigned int id = 0;
            if (!Id(array[i], Index(where, i), id))
                return false;
            out.push_back(id);
        }
        std::sort(out.begin(), out.end());
        out.erase(std::unique(out.begin(), out.end()), out.end());
        return true;
    }

    bool Files(const QJsonValue &value, const QString &where, const QDir &folder,
               std::vector<SessionFile> &out)
    {
        QJsonArray array;
        if (!Array(value, where, array))
            return false;
        out.clear();
        for (qsizetype i = 0; i < array.size(); ++i) {
            const QString at = Index(where, i);
            QJsonObject entry;
            SessionFile file;
            QString path;
            double size = 0;
            if (!Object(array[i], at, entry)
                || !String(entry.value(QLatin1String("path")), at + QLatin1String(".path"), path)
                || !Whole(entry.value(QLatin1String("size")), at + QLatin1String(".size"), -1,
                          kMaxWhole, size)
                || !Time(entry.value(QLatin1String("modified")), at + QLatin1String(".modified"),
                         file.modified))
                return false;
            if (path.isEmpty())
                return Fail(at + QLatin1String(".path"), Tr("is empty"));
            file.path = QDir::cleanPath(folder.absoluteFilePath(path));
            file.size = static_cast<qint64>(size);
            out.push_back(file);
        }
        return true;
    }

    bool Points(const QJsonValue &value, const QString &where, PointMap &out)
    {
        QJsonArray array;
        if (!Array(value, where, array))
            return false;
        for (qsizetype i = 0; i < array.size(); ++i) {
            const QString at = Index(where, i);
            QJsonArray triple;
            if (!Array(array[i], at, triple))
                return false;
            if (triple.size() != 3)
                return Fail(at, Tr("is not [image, x, y]"));
            double image = 0;
            TrackPoint point;
            if (!Whole(triple[0], Index(at, 0), 0, kMaxId, image)
                || !Coordinate(triple[1], Index(at, 1), point.x)
                || !Coordinate(triple[2], Index(at, 2), point.y))
                return false;
            const auto key = static_cast<unsigned int>(image);
            if (out.count(key) != 0)
                return Fail(where, Tr("holds two points on image %1").arg(key));
            out.insert_or_assign(key, point);
        }
        return true;
    }

    bool Tracks(const QJsonValue &value, const QString &where, const QDir &folder,
                SessionTracks &out)
    {
        QJsonObject object;
        if (!Object(value, where, object))
            return false;
        if (Has(object, "source")) {
            QString source;
            if (!String(object.value(QLatin1String("source")), where + QLatin1String(".source"),
                        source))
                return false;
            if (source == QLatin1String("trackFiles"))
                out.source = TrackSource::TrackFiles;
            else if (source == QLatin1String("csv"))
                out.source = TrackSource::Csv;
            else if (source == QLatin1String("none"))
                out.source = TrackSource::None;
            else
                return Fail(where + QLatin1String(".source"), Tr("names no known source"));
        }
        if (Has(object, "files")
            && !Files(object.value(QLatin1String("files")), where + QLatin1String(".files"), folder,
                      out.files))
            return false;
        if (out.source == TrackSource::Csv && out.files.size() != 1)
            return Fail(where + QLatin1String(".files"), Tr("must name one CSV file"));
        if (out.source == TrackSource::None && !out.files.empty())
            return Fail(where + QLatin1String(".files"), Tr("names files of no source"));
        if (Has(object, "changed")) {
            const QString at = where + QLatin1String(".changed");
            QJsonArray changed;
            if (!Array(object.value(QLatin1String("changed")), at, changed))
                return false;
            for (qsizetype i = 0; i < changed.size(); ++i) {
                const QString track = Index(at, i);
                QJsonObject entry;
                unsigned int id = 0;
                PointMap points;
                if (!Object(changed[i], track, entry)
                    || !Id(entry.value(QLatin1String("id")), track + QLatin1String(".id"), id)
                    || !Points(entry.value(QLatin1String("points")),
                               track + QLatin1String(".points"), points))
                    return false;
                if (out.changes.changed.count(id) != 0)
                    return Fail(at, Tr("lists track %1 twice").arg(id));
                out.changes.changed.insert_or_assign(id, std::move(points));
            }
        }
        if (Has(object, "deleted")
            && !Ids(object.value(QLatin1String("deleted")), where + QLatin1String(".deleted"),
                    out.changes.deleted))
            return false;
        for (const unsigned int id : out.changes.deleted) {
            if (out.changes.changed.count(id) != 0)
                return Fail(where, Tr("lists track %1 as both changed and deleted").arg(id));
        }
        return !Has(object, "reviewed")
            || Ids(object.value(QLatin1String("reviewed")), where + QLatin1String(".reviewed"),
                   out.reviewed);
    }

    static QString Index(const QString &where, qsizetype i)
    {
        return where + QLatin1Char('[') + QString::number(i) + QLatin1Char(']');
    }

private:
    QString &why;
};

bool ReadRecord(const QJsonObject &root, const QDir &folder, SessionRecord &record, Reader &read)
{
    if (Reader::Has(root, "saved")
        && !read.Time(root.value(QLatin1String("saved")), QStringLiteral("saved"), record.saved))
        return false;
    if (Reader::Has(root, "images")
        && !read.Files(root.value(QLatin1String("images")), QStringLiteral("images"), folder,
                       record.images))
        return false;
    if (Reader::Has(root, "nonError")
        && !read.Tracks(root.value(QLatin1String("nonError")), QStringLiteral("nonError"), folder,
                        record.nonError))
        return false;
    if (Reader::Has(root, "error")
        && !read.Tracks(root.value(QLatin1String("error")), QStringLiteral("error"), folder,
                        record.error))
        return false;
    if (Reader::Has(root, "picks")) {
        static const QRegularExpression pickText(QStringLiteral("^E?[0-9]{1,10}$"));
        QJsonArray picks;
        if (!read.Array(root.value(QLatin1String("picks")), QStringLiteral("picks"), picks))
            return false;
        for (qsizetype i = 0; i < picks.size(); ++i) {
            const QString at = Reader::Index(QStringLiteral("picks"), i);
            QString text;
            if (!read.String(picks[i], at, text))
                return false;
            const QString digits = text.startsWith(u'E') ? text.mid(1) : text;
            if (!pickText.match(text).hasMatch() || digits.toULongLong() > 4294967295ULL)
                return read.Fail(at, Tr("is not a picked track"));
            record.picks << text;
        }
    }
    if (Reader::Has(root, "view")) {
        QJsonObject view;
        double image = 0;
        QJsonArray centre;
        if (!read.Object(root.value(QLatin1String("view")), QStringLiteral("view"), view))
            return false;
        if (Reader::Has(view, "image")
            && !read.Whole(view.value(QLatin1String("image")), QStringLiteral("view.image"), 0,
                           2147483647.0, image))
            return false;
        record.image = static_cast<int>(image);
        if (Reader::Has(view, "fitted")
            && !read.Bool(view.value(QLatin1String("fitted")), QStringLiteral("view.fitted"),
                          record.fitted))
            return false;
        if (Reader::Has(view, "zoom")) {
            const QJsonValue zoom = view.value(QLatin1String("zoom"));
            if (!zoom.isDouble() || !(zoom.toDouble() > 0.0) || !std::isfinite(zoom.toDouble()))
                return read.Fail(QStringLiteral("view.zoom"), Tr("is not a positive number"));
            record.zoom = zoom.toDouble();
        }
        if (Reader::Has(view, "centre")) {
            float x = 0;
            float y = 0;
            if (!read.Array(view.value(QLatin1String("centre")), QStringLiteral("view.centre"),
                            centre))
                return false;
            if (centre.size() != 2 || !read.Coordinate(centre[0], QStringLiteral("view.centre"), x)
                || !read.Coordinate(centre[1], QStringLiteral("view.centre"), y))
                return read.Fail(QStringLiteral("view.centre"), Tr("is not [x, y]"));
            record.centre = QPointF(centre[0].toDouble(), centre[1].toDouble());
        }
    }
    if (Reader::Has(root, "currentTrack")) {
        QJsonObject current;
        QString kind;
        const QString at = QStringLiteral("currentTrack");
        if (!read.Object(root.value(QLatin1String("currentTrack")), at, current)
            || !read.String(current.value(QLatin1String("kind")), at + QLatin1String(".kind"), kind)
            || !read.Id(current.value(QLatin1String("id")), at + QLatin1String(".id"),
                        record.currentTrack.id))
            return false;
        if (kind != QLatin1String("error") && kind != QLatin1String("nonError"))
            return read.Fail(at + QLatin1String(".kind"), Tr("is not \"error\" or \"nonError\""));
        record.currentTrack.set = true;
        record.currentTrack.error = kind == QLatin1String("error");
    }
    if (Reader::Has(root, "markers")) {
        QJsonObject markers;
        double radius = 0;
        if (!read.Object(root.value(QLatin1String("markers")), QStringLiteral("markers"), markers))
            return false;
        if (Reader::Has(markers, "radius")) {
            if (!read.Whole(markers.value(QLatin1String("radius")),
                            QStringLiteral("markers.radius"), 1, 50, radius))
                return false;
            record.markerRadius = static_cast<int>(radius);
        }
        if (Reader::Has(markers, "outline")
            && !read.Bool(markers.value(QLatin1String("outline")),
                          QStringLiteral("markers.outline"), record.outlineMarkers))
            return false;
    }
    if (Reader::Has(root, "options")) {
        QJsonObject options;
        if (!read.Object(root.value(QLatin1String("options")), QStringLiteral("options"), options))
            return false;
        for (auto it = options.begin(); it != options.end(); ++it) {
            bool on = false;
            if (!read.Bool(it.value(), QStringLiteral("options.") + it.key(), on))
                return false;
            record.options[it.key()] = on;
        }
    }
    if (Reader::Has(root, "sessionFile")) {
        QString path;
        if (!read.String(root.value(QLatin1String("sessionFile")), QStringLiteral("sessionFile"),
                         path))
            return false;
        if (!path.isEmpty())
            record.sessionFile = QDir::cleanPath(folder.absoluteFilePath(path));
    }
    return true;
}

} // namespace

QByteArray SessionToJson(const SessionRecord &record, const QString &sessionPath)
{
    const QDir folder = QFileInfo(sessionPath).absoluteDir();
    QJsonObject root;
    root.insert(QStringLiteral("format"), QLatin1String(kFormatName));
    root.insert(QStringLiteral("version"), kSessionFormatVersion);
    if (record.saved.isValid())
        root.insert(QStringLiteral("saved"), record.saved.toUTC().toString(Qt::ISODateWithMs));
    root.insert(QStringLiteral("images"), FilesToJson(record.images, folder));
    root.insert(QStringLiteral("nonError"), TracksToJson(record.nonError, folder));
    root.insert(QStringLiteral("error"), TracksToJson(record.error, folder));
    root.insert(QStringLiteral("picks"), QJsonArray::fromStringList(record.picks));
    root.insert(QStringLiteral("view"),
                QJsonObject { { QStringLiteral("image"), record.image },
                              { QStringLiteral("fitted"), record.fitted },
                              { QStringLiteral("zoom"), record.zoom },
                              { QStringLiteral("centre"),
                                QJsonArray { record.centre.x(), record.centre.y() } } });
    if (record.currentTrack.set)
        root.insert(
            QStringLiteral("currentTrack"),
            QJsonObject { { QStringLiteral("kind"),
                            record.currentTrack.error ? QStringLiteral("error")
                                                      : QStringLiteral("nonError") },
                          { QStringLiteral("id"), static_cast<double>(record.currentTrack.id) } });
    root.insert(QStringLiteral("markers"),
                QJsonObject { { QStringLiteral("radius"), record.markerRadius },
                              { QStringLiteral("outline"), record.outlineMarkers } });
    QJsonObject options;
    for (const auto &[name, on] : record.options)
        options.insert(name, on);
    root.insert(QStringLiteral("options"), options);
    if (!record.sessionFile.isEmpty())
        root.insert(QStringLiteral("sessionFile"), QDir::cleanPath(record.sessionFile));
    return QJsonDocument(root).toJson(QJsonDocument::Compact) + '\n';
}

bool SessionFromJson(const QByteArray &json, const QString &sessionPath, SessionRecord &record,
                     QString &why)
{
    QJsonParseError error;
    const QJsonDocument document = QJsonDocument::fromJson(json, &error);
    if (error.error != QJsonParseError::NoError) {
        why = Tr("The session file is damaged: it is not valid JSON (%1 at byte %2).")
                  .arg(error.errorString())
                  .arg(error.offset);
        return false;
    }
    const QJsonObject root = document.object();
    if (!document.isObject()
        || root.value(QLatin1String("format")).toString() != QLatin1String(kFormatName)) {
        why = Tr("This is not a Strandsight session file.");
        return false;
    }
    const QJsonValue version = root.value(QLatin1String("version"));
    const double number = version.toDouble();
    if (!version.isDouble() || number != std::floor(number) || number < 1) {
        why = Tr("The session file is damaged: it gives no valid format version.");
        return false;
    }
    if (number > kSessionFormatVersion) {
        why = Tr("The session was saved by a newer version of Strandsight (session format %1); "
                 "this version reads session format %2 and older.")
                  .arg(QString::number(number, 'f', 0))
                  .arg(kSessionFormatVersion);
        return false;
    }
    SessionRecord read;
    Reader reader(why);
    if (!ReadRecord(root, QFileInfo(sessionPath).absoluteDir(), read, reader))
        return false;
    record = std::move(read);
    return true;
}

bool WriteSessionFile(const QString &path, const SessionRecord &record, QString &why)
{
    const QByteArray json = SessionToJson(record, QFileInfo(path).absoluteFilePath());
    TrackSetWriter writer({ QFileInfo(path).absoluteFilePath() });
    const bool written = writer.Write([&json](FILE *file, int) {
        return std::fwrite(json.constData(), 1, static_cast<size_t>(json.size()), file)
            == static_cast<size_t>(json.size());
    });
    if (!written)
        why = writer.LastFailure().reason;
    return written;
}

bool ReadSessionFile(const QString &path, SessionRecord &record, QString &why)
{
    QFile file(path);
    const QFileInfo info(path);
    if (!info.exists()) {
        why = Tr("The session file does not exist.");
        return false;
    }
    // A pipe or a device is never opened: reading it could wait for ever.
    if (!info.isFile() || !file.open(QIODevice::ReadOnly)) {
        why = Tr("The session file cannot be read (%1).")
                  .arg(info.isFile() ? file.errorString() : Tr("it is not a regular file"));
        return false;
    }
    // A session is a JSON object. A file that does not begin like one (a
    // damaged or zero-filled file, another program's file) is refused before
    // it is read whole, which for a large file could take all the memory.
    const QByteArray head = file.peek(4096);
    qsizetype first = head.startsWith("\xEF\xBB\xBF") ? 3 : 0;
    while (first < head.size() && std::isspace(static_cast<unsigned char>(head[first])))
        ++first;
    if (first < head.size() && head[first] != '{') {
        why = Tr("This is not a Strandsight session file.");
        return false;
    }
    const QByteArray json = file.readAll();
    if (file.error() != QFileDevice::NoError) {
        why = Tr("The session file cannot be read (%1).").arg(file.errorString());
        return false;
    }
    return SessionFromJson(json, info.absoluteFilePath(), record, why);
}
