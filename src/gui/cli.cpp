#include "gui/cli.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace hydrix::gui {

CommandLine ParseCommandLine(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Bench test station for an ADCP instrument on a serial line. The port, baud rate and\n"
        "output directory come from the host software's settings in the Wine prefix\n"
        "($WINEPREFIX, default ~/.wine).\n\n"
        "Exit status: 0 finished, 1 finished with FAIL reports, 2 communications error,\n"
        "3 configuration error, 4 port could not be opened, 5 cancelled, 6 other error.");
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    const QCommandLineOption headless("headless",
                                      "Run without a window: messages go to standard error, Close is "
                                      "pressed after the finish, SIGINT/SIGTERM cancel.");
    const QCommandLineOption report("report", "Write a JSON report of the run to FILE when it ends.", "FILE");
    parser.addOptions({help, version, headless, report});

    CommandLine cl;
    const QString name = args.isEmpty() ? QStringLiteral("hydrix") : args.first();
    cl.helpText = "Usage: " + name.toStdString() + " [--headless] [--report FILE]\n\n" +
                  parser.applicationDescription().toStdString() + "\n\nOptions:\n" + "  -h, --help       " +
                  help.description().toStdString() + "\n" + "  -v, --version    " +
                  version.description().toStdString() + "\n" + "  --headless       " +
                  headless.description().toStdString() + "\n" + "  --report FILE    " +
                  report.description().toStdString() + "\n";
    if (!parser.parse(args)) {
        cl.error = parser.errorText().toStdString();
        return cl;
    }
    if (!parser.positionalArguments().isEmpty()) {
        cl.error = "Unexpected argument '" + parser.positionalArguments().first().toStdString() + "'.";
        return cl;
    }
    cl.help = parser.isSet(help);
    cl.version = parser.isSet(version);
    cl.headless = parser.isSet(headless);
    if (parser.isSet(report)) {
        cl.reportFile = parser.value(report).toStdString();
        if (cl.reportFile.empty()) {
            cl.error = "The report file name is empty.";
        }
    }
    return cl;
}

}  // namespace hydrix::gui
