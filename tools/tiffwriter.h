#pragma once

#include <QFile>
#include <QImage>
#include <QString>

// Writes 8- and 16-bit grayscale images as the pages of one baseline TIFF
// file, optionally deflate-compressed. Qt's own TIFF writer puts one page in
// a file and compresses with LZW only; microscope stacks are commonly one
// multi-page file, and deflate keeps a large sample stack small on disk.
class TiffWriter
{
public:
    TiffWriter(const QString &path, bool deflate);

    // Appends image (Format_Grayscale8 or Format_Grayscale16) as the next page.
    bool AddPage(const QImage &image);
    // Closes the file; false when anything could not be written.
    bool Finish();
    QString ErrorString() const { return error; }

private:
    bool Fail(const QString &message);
    bool Write(const QByteArray &bytes);

    QFile file;
    bool deflate;
    qint64 nextPagePointer = 4; // where the offset of the next page goes
    QString error;
};
