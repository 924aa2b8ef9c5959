#pragma once

#include <QByteArray>
#include <QIODevice>
#include <QSize>
#include <functional>
#include <vector>

// The page directory of a TIFF file, read in one walk along its chain of
// image file directories. Qt's reader finds page n by walking the chain from
// the start every time, which makes reading every page of a large stack
// quadratic; here each page is visited once, and a page is later decoded on
// its own through a TiffPageDevice.
struct TiffPage
{
    qint64 directoryOffset = 0;
    QSize size;
    int bitsPerSample = 1;
    int samplesPerPixel = 1;
    int sampleFormat = 1; // 1 unsigned, 2 signed, 3 floating point
    int planarConfiguration = 1; // 1 interleaved, 2 one plane per sample
    int photometric = 1; // 0 white is zero, 1 black is zero, 2 RGB, 3 palette ...
    quint32 newSubfileType = 0; // bit 0: a reduced-resolution copy
    bool dataInFile = true; // every strip or tile lies inside the file

    bool ReducedResolution() const { return newSubfileType & 1; }
};

struct TiffDirectory
{
    bool valid = false; // a TIFF header (classic or BigTIFF) was found
    bool bigTiff = false;
    bool bigEndian = false;
    std::vector<TiffPage> pages;
    // The chain ended early: a directory pointed outside the file, to a
    // directory that cannot be read, or back to one already read.
    bool chainBroken = false;
    // The number of pages the file says it has (its PageNumber tags), or 0.
    int declaredPages = 0;
};

// Reads the directory of the TIFF file open in device. keepGoing is asked
// every few hundred pages with the count so far and the offset reached;
// returning false stops the walk (the pages read so far are kept).
TiffDirectory ReadTiffDirectory(QIODevice &device,
                                const std::function<bool(int pages, qint64 offset)> &keepGoing
                                = {});

// One page of a TIFF file as a file of its own, for Qt's reader: its header
// points straight at that page's directory, every other byte is the file's.
// The reader then finds the page at once instead of walking the chain to it.
class TiffPageDevice : public QIODevice
{
public:
    // file must be open for reading and outlive the device.
    TiffPageDevice(QIODevice *file, bool bigTiff, bool bigEndian, qint64 directoryOffset);

    bool isSequential() const override { return false; }
    qint64 size() const override;
    bool seek(qint64 pos) override;

protected:
    qint64 readData(char *data, qint64 maxSize) override;
    qint64 writeData(const char *, qint64) override { return -1; }

private:
    QIODevice *file;
    QByteArray header;
};
