// Writes a sample data set for Strandsight: an image sequence of drifting fibre
// discs and the matching non-error and error track-file sets.

#include "tools/sampledata.h"

#include <QCommandLineParser>
#include <QCoreApplication>
#include <QElapsedTimer>
#include <QTextStream>

#include <limits>

namespace {

bool ReadInt(const QCommandLineParser &parser, const QString &name, int &value, QString &error)
{
    if (!parser.isSet(name))
        return true;
    bool ok = false;
    value = parser.value(name).toInt(&ok);
    if (!ok)
        error = QStringLiteral("--%1 takes a whole number, not \"%2\".")
                    .arg(name, parser.value(name));
    return ok;
}

bool ReadOptions(const QCommandLineParser &parser, SampleOptions &options, QString &error)
{
    if (!ReadInt(parser, QStringLiteral("slices"), options.slices, error)
        || !ReadInt(parser, QStringLiteral("fibres"), options.fibres, error)
        || !ReadInt(parser, QStringLiteral("width"), options.width, error)
        || !ReadInt(parser, QStringLiteral("height"), options.height, error)
        || !ReadInt(parser, QStringLiteral("noise"), options.noise, error))
        return false;
    if (parser.isSet(QStringLiteral("format"))
        && !ParseSampleFormat(parser.value(QStringLiteral("format")), options.format)) {
        error = QStringLiteral("--format takes tiff8, tiff16 or png, not \"%1\".")
                    .arg(parser.value(QStringLiteral("format")));
        return false;
    }
    if (parser.isSet(QStringLiteral("error-share"))) {
        bool ok = false;
        options.errorShare = parser.value(QStringLiteral("error-share")).toDouble(&ok);
        if (!ok) {
            error = QStringLiteral("--error-share takes a number from 0 to 1, not \"%1\".")
                        .arg(parser.value(QStringLiteral("error-share")));
            return false;
        }
    }
    if (parser.isSet(QStringLiteral("seed"))) {
        bool ok = false;
        const qulonglong seed = parser.value(QStringLiteral("seed")).toULongLong(&ok);
        if (!ok || seed > std::numeric_limits<unsigned int>::max()) {
            error = QStringLiteral("--seed takes a whole number from 0 to %1, not \"%2\".")
                        .arg(std::numeric_limits<unsigned int>::max())
                        .arg(parser.value(QStringLiteral("seed")));
            return false;
        }
        options.seed = static_cast<unsigned int>(seed);
    }
    options.compress = parser.isSet(QStringLiteral("compress"));
    options.stack = parser.isSet(QStringLiteral("stack"));
    options.tracksOnly = parser.isSet(QStringLiteral("tracks-only"));
    options.imagesOnly = parser.isSet(QStringLiteral("images-only"));
    return true;
}

} // namespace

int main(int argc, char *argv[])
{
    QCoreApplication app(argc, argv);
    QCoreApplication::setApplicationName(QStringLiteral("strandsight-sample"));
    QTextStream out(stdout);
    QTextStream err(stderr);

    const SampleOptions defaults;
    QCommandLineParser parser;
    parser.setApplicationDescription(
        QStringLiteral("Writes a sample data set for Strandsight: an image sequence of fibre discs "
                       "drifting over a noisy background (DIR/images), and their tracks "
                       "(DIR/tracks/normal, and DIR/tracks/error for the tracks given a fault)."));
    parser.addHelpOption();
    const auto number = [](int value) { return QString::number(value); };
    parser.addOptions({
        { QStringLiteral("out"), QStringLiteral("Folder to write the set into (required)."),
          QStringLiteral("DIR") },
        { QStringLiteral("slices"),
          QStringLiteral("Number of slices (default %1).").arg(defaults.slices),
          QStringLiteral("N"), number(defaults.slices) },
        { QStringLiteral("fibres"),
          QStringLiteral("Number of fibres (default %1).").arg(defaults.fibres),
          QStringLiteral("M"), number(defaults.fibres) },
        { QStringLiteral("width"),
          QStringLiteral("Image width in pixels (default %1).").arg(defaults.width),
          QStringLiteral("W"), number(defaults.width) },
        { QStringLiteral("height"),
          QStringLiteral("Image height in pixels (default %1).").arg(defaults.height),
          QStringLiteral("H"), number(defaults.height) },
        { QStringLiteral("format"),
          QStringLiteral("Image format: tiff8, tiff16 (12-bit data) or png (default %1).")
              .arg(SampleFormatName(defaults.format)),
          QStringLiteral("FORMAT"), SampleFormatName(defaults.format) },
        { QStringLiteral("error-share"),
          QStringLiteral("Share of the fibres written as error tracks, 0 to 1 (default %1).")
              .arg(defaults.errorShare),
          QStringLiteral("F"), QString::number(defaults.errorShare) },
        { QStringLiteral("seed"),
          QStringLiteral("Random seed; one seed, one data set (default %1).").arg(defaults.seed),
          QStringLiteral("S"), QString::number(defaults.seed) },
        { QStringLiteral("noise"),
          QStringLiteral("Background noise, standard deviation on the 12-bit scale (default %1).")
              .arg(defaults.noise),
          QStringLiteral("SIGMA"), number(defaults.noise) },
        { QStringLiteral("compress"),
          QStringLiteral("Deflate-compress the TIFF slices (small on disk, slower to decode).") },
        { QStringLiteral("stack"),
          QStringLiteral("Write all slices as the pages of one TIFF file, images/stack.tif.") },
        { QStringLiteral("tracks-only"), QStringLiteral("Write only the track files.") },
        { QStringLiteral("images-only"), QStringLiteral("Write only the images.") },
    });
    parser.process(app);

    if (!parser.positionalArguments().isEmpty()) {
        err << "strandsight-sample: unexpected argument \"" << parser.positionalArguments().first()
            << "\" (see --help)\n";
        return 2;
    }
    const QString directory = parser.value(QStringLiteral("out"));
    if (directory.isEmpty()) {
        err << "strandsight-sample: --out DIR is required (see --help)\n";
        return 2;
    }
    SampleOptions options;
    QString error;
    if (!ReadOptions(parser, options, error)) {
        err << "strandsight-sample: " << error << '\n';
        return 2;
    }

    QElapsedTimer timer;
    timer.start();
    const SampleResult result = WriteSampleData(directory, options);
    if (!result.ok) {
        err << "strandsight-sample: " << result.message << '\n';
        return 1;
    }
    if (!options.tracksOnly)
        out << "Images: " << options.slices << " slices of " << options.width << " x "
            << options.height << " (" << SampleFormatName(options.format)
            << (options.compress ? ", deflate" : "") << ") in "
            << (options.stack ? result.imageDirectory + QStringLiteral("/stack.tif")
                              : result.imageDirectory)
            << '\n';
    if (!options.imagesOnly) {
        out << "Non-error tracks: " << result.normalTracks << " in " << result.trackFiles
            << " files in " << result.normalDirectory << '\n';
        out << "Error tracks: " << result.errorTracks << " in " << result.trackFiles << " files in "
            << result.errorDirectory << '\n';
    }
    out << "Done in " << QString::number(timer.elapsed() / 1000.0, 'f', 1) << " s.\n";
    return 0;
}
