#pragma once

#include <QByteArray>
#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <vector>

// What the program is asked on its command line:
//   strandsight [--images PATH...] [--non-error PATH...] [--error PATH...]
//   strandsight --session FILE
// Every argument up to the next option is a path of the option before it, and
// options may be repeated, so a shell glob (--images slices/*.tif) works as
// typed. Qt's own options (-style, -platform ...) are gone by the time the
// arguments get here: QApplication takes them out.
class CommandLine
{
public:
    enum Request { Open, Help, Version, Mistake };

    // arguments as QCoreApplication::arguments() gives them, the program first.
    explicit CommandLine(const QStringList &arguments);

    Request request = Open;
    QStringList images;
    QStringList nonError;
    QStringList error;
    QString session; // a session file to open instead of paths
    QString mistake; // what was wrong, for Mistake

    // The help text, "Usage: ..." first; needs the application object.
    QString Usage() const;

    // The toolkit's application object takes "--session ID" (and "-session
    // ID") for the desktop's session manager and removes both words before
    // the program sees them; "--session=ID" it leaves alone. Called before
    // the application object is made: the arguments with every "--session
    // FILE" before a "--" joined into "--session=FILE", null-terminated, their
    // texts held in words, which must outlive the application object.
    static std::vector<char *> KeepSessionOption(int argc, char *argv[],
                                                 std::vector<QByteArray> &words);

private:
    bool Group(const QStringList &arguments, QStringList &grouped);

    QCommandLineParser parser;
};
