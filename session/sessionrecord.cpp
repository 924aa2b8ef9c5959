#include "session/sessionrecord.h"

#include <QCoreApplication>
#include <QFileInfo>

SessionFile DescribeFile(const QString &path)
{
    SessionFile file;
    file.path = path;
    const QFileInfo info(path);
    if (info.exists()) {
        file.size = info.size();
        file.modified = info.lastModified().toUTC();
    }
    return file;
}

std::vector<SessionFile> DescribeFiles(const QStringList &paths)
{
    std::vector<SessionFile> files;
    files.reserve(static_cast<size_t>(paths.size()));
    for (const QString &path : paths)
        files.push_back(DescribeFile(path));
    return files;
}

QStringList FilePaths(const std::vector<SessionFile> &files)
{
    QStringList paths;
    paths.reserve(static_cast<qsizetype>(files.size()));
    for (const SessionFile &file : files)
        paths << file.path;
    return paths;
}

QStringList ChangedFiles(const SessionRecord &record)
{
    QStringList changed;
    const auto check = [&changed](const std::vector<SessionFile> &files) {
        for (const SessionFile &saved : files) {
            const SessionFile now = DescribeFile(saved.path);
            if (now.size < 0)
                changed
                    << QCoreApplication::translate("SessionRecord", "%1 (missing)").arg(saved.path);
            // File systems keep times to different precisions: a time saved
            // to the millisecond is compared to the millisecond.
            else if (now.size != saved.size
                     || now.modified.toMSecsSinceEpoch() != saved.modified.toMSecsSinceEpoch())
                changed
                    << QCoreApplication::translate("SessionRecord", "%1 (changed)").arg(saved.path);
        }
    };
    check(record.images);
    check(record.nonError.files);
    check(record.error.files);
    return changed;
}
