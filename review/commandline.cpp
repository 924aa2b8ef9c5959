#include "review/commandline.h"

#include <QCoreApplication>

namespace {

const QString kImages = QStringLiteral("images");
const QString kNonError = QStringLiteral("non-error");
const QString kError = QStringLiteral("error");
const QString kSession = QStringLiteral("session");

QString Translate(const char *text) { return QCoreApplication::translate("CommandLine", text); }

} // namespace

CommandLine::CommandLine(const QStringList &arguments)
{
    parser.setApplicationDescription(Translate(
        "Reviews fibre tracks through a stack of image cross-sections.\n\n"
        "Each option takes one or more paths, up to the next option, and may be repeated. "
        "A path is a file or a folder; a folder stands for every file in it that the load "
        "dialog offers (*.tif *.tiff *.jpg *.png for images, *.txt for tracks). "
        "The files of each option are ordered by name, as a selection in the dialog. "
        "Write a path that starts with '-' as ./-name."));
    // Not addHelpOption(): its --help-all is only answered by process(), which
    // exits with its own code.
    const QCommandLineOption help({ QStringLiteral("h"), QStringLiteral("help") },
                                  Translate("Displays this help."));
    parser.addOption(help);
    const QCommandLineOption version = parser.addVersionOption();
    parser.addOptions({
        { kImages, Translate("Load these files as the image sequence."),
          QStringLiteral("PATH...") },
        { kNonError, Translate("Load these track files as the non-error tracks."),
          QStringLiteral("PATH...") },
        { kError, Translate("Load these track files as the error tracks."),
          QStringLiteral("PATH...") },
        { kSession,
          Translate("Open this session file (*.strandsight), which names the files "
                    "to load itself."),
          QStringLiteral("FILE") },
    });

    QStringList grouped;
    if (!Group(arguments, grouped)) {
        request = Mistake;
        return;
    }
    if (!parser.parse(grouped)) {
        request = Mistake;
        mistake = parser.errorText();
    } else if (parser.isSet(help)) {
        request = Help;
    } else if (parser.isSet(version)) {
        request = Version;
    } else if (!parser.positionalArguments().isEmpty()) {
        request = Mistake;
        mistake = Translate("\"%1\" follows no option: put paths after --images, --non-error "
                            "or --error.")
                      .arg(parser.positionalArguments().first());
    } else if (parser.isSet(kSession) && parser.value(kSession).isEmpty()) {
        request = Mistake;
        mistake = Translate("Missing value after '--%1'.").arg(kSession);
    } else if (parser.values(kSession).size() > 1) {
        request = Mistake;
        mistake = Translate("Only one --session can be opened.");
    } else if (parser.isSet(kSession)
               && (parser.isSet(kImages) || parser.isSet(kNonError) || parser.isSet(kError))) {
        request = Mistake;
        mistake = Translate("--session cannot be combined with --images, --non-error or "
                            "--error: the session names its files itself.");
    } else {
        images = parser.values(kImages);
        nonError = parser.values(kNonError);
        error = parser.values(kError);
        session = parser.value(kSession);
    }
}

// The parser takes one value per option: every path is handed to it as an
// "--option=path" of its own (which also keeps a path starting with '-' a
// value). An option with no path before the next option is a mistake here:
// the parser would take that option for its value.
bool CommandLine::Group(const QStringList &arguments, QStringList &grouped)
{
    QString option;
    bool optionHasPath = false;
    auto missingPath = [&] {
        mistake = Translate("Missing value after '--%1'.").arg(option);
        return false;
    };
    grouped << arguments.value(0);
    const QStringList given = arguments.mid(1);
    for (qsizetype at = 0; at < given.size(); ++at) {
        const QString &argument = given[at];
        // Everything after "--" is a path, passed on as typed: it follows no
        // option, and the mistake must quote what the user wrote.
        if (argument == QLatin1String("--")) {
            if (!option.isEmpty() && !optionHasPath)
                return missingPath();
            grouped << given.mid(at);
            return true;
        }
        if (argument.startsWith(QLatin1Char('-')) && argument != QLatin1String("-")) {
            if (!option.isEmpty() && !optionHasPath)
                return missingPath();
            option.clear();
            const QString name = argument.mid(2).section(QLatin1Char('='), 0, 0);
            if (argument.startsWith(QLatin1String("--"))
                && (name == kImages || name == kNonError || name == kError)) {
                option = name;
                optionHasPath = argument.contains(QLatin1Char('='));
            }
            if (option.isEmpty() || optionHasPath)
                grouped << argument;
            continue;
        }
        if (option.isEmpty()) {
            grouped << argument;
        } else {
            grouped << QStringLiteral("--%1=%2").arg(option, argument);
            optionHasPath = true;
        }
    }
    if (!option.isEmpty() && !optionHasPath)
        return missingPath();
    return true;
}

QString CommandLine::Usage() const { return parser.helpText(); }

std::vector<char *> CommandLine::KeepSessionOption(int argc, char *argv[],
                                                   std::vector<QByteArray> &words)
{
    words.clear();
    bool options = true;
    for (int at = 0; at < argc; ++at) {
        const QByteArray argument(argv[at]);
        options = options && argument != "--";
        if (options && at > 0 && argument == "--session" && at + 1 < argc)
            words.push_back("--session=" + QByteArray(argv[++at]));
        else
            words.push_back(argument);
    }
    std::vector<char *> pointers;
    for (QByteArray &word : words)
        pointers.push_back(word.data());
    pointers.push_back(nullptr);
    return pointers;
}
