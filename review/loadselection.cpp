#include "review/loadselection.h"

#include <QCoreApplication>
#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

#include <algorithm>

namespace {

QStringList Patterns(LoadKind kind)
{
    if (kind == LoadKind::Images)
        return { QStringLiteral("*.tif"), QStringLiteral("*.tiff"), QStringLiteral("*.jpg"),
                 QStringLiteral("*.png") };
    return { QStringLiteral("*.txt") };
}

// Qt's file dialog matches its filter regardless of case and hides hidden
// files (such as the "._name.tif" companions some copies leave behind).
QStringList OfferedFiles(const QString &folder, LoadKind kind)
{
    const QDir dir(folder);
    QStringList files;
    for (const QString &name : dir.entryList(Patterns(kind), QDir::Files))
        files << dir.absoluteFilePath(name);
    return files;
}

bool Matches(const QString &file, LoadKind kind)
{
    const QString name = QFileInfo(file).fileName();
    for (const QString &pattern : Patterns(kind)) {
        const QRegularExpression match(QRegularExpression::wildcardToRegularExpression(pattern),
                                       QRegularExpression::CaseInsensitiveOption);
        if (match.match(name).hasMatch())
            return true;
    }
    return false;
}

} // namespace

QString LoadDialogFilter(LoadKind kind)
{
    const QString patterns = Patterns(kind).join(QLatin1Char(' '));
    if (kind == LoadKind::Images)
        return QCoreApplication::translate("TFormStrandsight", "Image Files (%1)").arg(patterns);
    return QCoreApplication::translate("TFormStrandsight", "Text Files (%1)").arg(patterns);
}

bool ExpandLoadPaths(const QStringList &paths, LoadKind kind, QStringList &files, QString &missing,
                     QString *reason)
{
    files.clear();
    for (const QString &path : paths) {
        const QFileInfo info(path);
        const QString absolute = path.isEmpty() ? path : QDir::cleanPath(info.absoluteFilePath());
        // Not a device or a pipe either: reading one would never end.
        QStringList found;
        QString why;
        if (info.isDir()) {
            found = OfferedFiles(absolute, kind);
            why = kind == LoadKind::Images
                ? QCoreApplication::translate("TFormStrandsight", "the folder holds no image file")
                : QCoreApplication::translate("TFormStrandsight", "the folder holds no track file");
        } else if (info.isFile()) {
            found << absolute;
        } else {
            why = info.exists() || info.isSymLink()
                ? QCoreApplication::translate("TFormStrandsight", "it is not a regular file")
                : QCoreApplication::translate("TFormStrandsight", "it does not exist");
        }
        if (found.isEmpty()) {
            missing = absolute;
            if (reason)
                *reason = why;
            files.clear();
            return false;
        }
        files << found;
    }
    files.removeDuplicates();
    files.sort(Qt::CaseSensitive);
    return true;
}

bool DropSelection(const QStringList &paths, LoadKind &kind, QStringList &files)
{
    files.clear();
    QString missing;
    if (paths.size() == 1 && QFileInfo(paths.first()).isDir()) {
        const bool images = !OfferedFiles(paths.first(), LoadKind::Images).isEmpty();
        const bool tracks = !OfferedFiles(paths.first(), LoadKind::Tracks).isEmpty();
        if (images == tracks)
            return false;
        kind = images ? LoadKind::Images : LoadKind::Tracks;
        return ExpandLoadPaths(paths, kind, files, missing);
    }
    for (const LoadKind candidate : { LoadKind::Images, LoadKind::Tracks }) {
        const bool all = std::all_of(paths.begin(), paths.end(), [candidate](const QString &path) {
            return QFileInfo(path).isFile() && Matches(path, candidate);
        });
        if (all && !paths.isEmpty()) {
            kind = candidate;
            return ExpandLoadPaths(paths, candidate, files, missing);
        }
    }
    return false;
}
