#pragma once

#include <QFile>
#include <QImage>
#include <QString>

// Writes 8- and 16-bit grayscale images as the pages of one baseline TIFF
// file, optionally deflate-compressed. Qt's own TIFF writer puts one page in
// a file and compresses with LZW only; microscope stacks are commonly one
// multi-page file, and deflate keeps a large sample stack small on disk. The
// page options also make the kinds of page other programs write (thumbnails,
// signed samples, colour in planes), to test how a stack copes with them.
class TiffWriter
{
public:
    struct PageOptions
    {
        // NewSubfileType: 1 marks a reduced-resolution copy (a thumbnail).
        quint32 subfileType = 0;
        // The 16-bit samples are two's complement: a value v of the image is
        // written as is and means v - 65536 from 32768 up.
        bool signedSamples = false;
        // Written as the page's PageNumber (page, of pageCount) when above 0.
        int page = 0;
        int pageCount = 0;
    };

    TiffWriter(const QString &path, bool deflate);

    // Appends image as the next page: Format_Grayscale8 or Format_Grayscale16,
    // or Format_RGBX64, written as 16-bit RGB with one plane per colour.
    bool AddPage(const QImage &image, const PageOptions &options);
    bool AddPage(const QImage &image) { return AddPage(image, PageOptions()); }
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
