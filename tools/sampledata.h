#pragma once

#include <QString>

// Writes a realistic review data set: an image sequence of slices showing bright
// fibre discs that drift slowly over a noisy background, and the matching
// non-error and error track-file sets. Used by the sample tool, the tests and
// the benchmark.
struct SampleOptions
{
    int slices = 40;
    int fibres = 300;
    int width = 512;
    int height = 512;
    enum Format { Tiff8, Tiff16, Png } format = Tiff8;
    double errorShare = 0.15; // share of the fibres written as error tracks
    int noise = 80; // standard deviation of the background noise, 12-bit scale
    bool compress = false; // TIFF slices deflate-compressed
    bool stack = false; // all slices as the pages of one TIFF file, images/stack.tif
    unsigned int seed = 1;
    bool imagesOnly = false; // skip the track files
    bool tracksOnly = false; // skip the images
};

struct SampleResult
{
    bool ok = false;
    QString message; // what failed, when not ok
    int normalTracks = 0;
    int errorTracks = 0;
    qint64 normalPoints = 0; // points written over all non-error track files
    qint64 errorPoints = 0; // the same for the error track files
    int imageFiles = 0;
    int trackFiles = 0; // per set
    QString imageDirectory; // absolute paths of the three folders
    QString normalDirectory;
    QString errorDirectory;
};

// Lower-case name of a format as the tool's --format option takes it.
QString SampleFormatName(SampleOptions::Format format);
// The format of such a name; false for an unknown name.
bool ParseSampleFormat(const QString &name, SampleOptions::Format &format);

// Layout under directory: images/slice000.tif ... (or images/stack.tif),
// tracks/normal/track000.txt ..., tracks/error/track000.txt ... (numbers
// zero-padded to the same width). Slice files are written on helper threads.
SampleResult WriteSampleData(const QString &directory, const SampleOptions &options);
