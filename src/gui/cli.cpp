#include "gui/cli.h"

#include <QCommandLineOption>
#include <QCommandLineParser>

namespace hydrix::gui {

CommandLine ParseCommandLine(const QStringList& args) {
    QCommandLineParser parser;
    parser.setApplicationDescription(
        "Bench test station for an ADCP instrument on a serial line. The port, baud rate and\n"
        "output directory come from the host software's settings in the Wine prefix\n"
        "($WINEPREFIX, default ~/.wine). SIGINT, SIGTERM, SIGHUP and SIGQUIT act as Cancel.\n\n"
        "Exit status: 0 passed: the sequence ran to its end, at least one PASS and no FAIL\n"
        "report was counted, every report that began came to its end, and the capture file\n"
        "named in the title and the report holds every byte received; 1 finished with FAIL\n"
        "reports; 2 communications error; 3 configuration error (settings, output directory,\n"
        "a report that cannot be written); 4 port could not be opened; 5 cancelled; 6 other\n"
        "error; 7 incomplete: the sequence ended but the station cannot vouch for a pass\n"
        "(the report's messages say why). A capture never replaces an earlier file: when\n"
        "the name is taken, -2, -3, ... goes before .txt.");
    const QCommandLineOption help({"h", "help"}, "Show this help and exit.");
    const QCommandLineOption version({"v", "version"}, "Show the version and exit.");
    const QCommandLineOption headless("headless",
                                      "Run without a window: messages go to standard error, Close is "
                                      "pressed after the finish, SIGINT/SIGTERM cancel.");
    const QCommandLineOption report("report", "Write a JSON report of the run to FILE when it ends.", "FILE");
    const QCommandLineOption deadline("deadline",
                                      "Headless: end a run still going after SECONDS as a communications "
                                      "error (default 600, 0 for none).",
                                      "SECONDS");
    const QCommandLineOption check("check",
                                   "Read the settings as a run would and tell what it would use and every problem "
                                   "in its way; nothing is sent on the line. Exit status as a run would start: 0, 3 "
                                   "or 4.");
    parser.addOptions({help, version, headless, report, deadline, check});

    CommandLine cl;
    const QString name = args.isEmpty() ? QStringLiteral("hydrix") : args.first();
    cl.helpText = "Usage: " + name.toStdString() + " [--headless [--deadline SECONDS]] [--report FILE]\n" + "       " +
                  name.toStdString() + " --check\n\n" + parser.applicationDescription().toStdString() +
                  "\n\nOptions:\n" + "  -h, --help           " + help.description().toStdString() + "\n" +
                  "  -v, --version        " + version.description().toStdString() + "\n" + "  --headless           " +
                  headless.description().toStdString() + "\n" + "  --deadline SECONDS   " +
                  deadline.description().toStdString() + "\n" + "  --report FILE        " +
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
    cl.check = parser.isSet(check);
    if (parser.values(report).size() > 1) {
        cl.error = "--report is given more than once; give one report file.";
        return cl;
    }
    if (parser.isSet(report)) {
        cl.reportFile = parser.value(report).toStdString();
        if (cl.reportFile.empty()) {
            cl.error = "The report file name is empty.";
            return cl;
        }
    }
    if (parser.values(deadline).size() > 1) {
        cl.error = "--deadline is given more than once.";
        return cl;
    }
    if (parser.isSet(deadline)) {
        bool ok = false;
        const int seconds = parser.value(deadline).toInt(&ok);
        if (!ok || seconds < 0 || seconds > kMaxDeadlineSeconds) {
            cl.error = "--deadline takes a whole number of seconds from 0 to " + std::to_string(kMaxDeadlineSeconds) +
                       ": '" + parser.value(deadline).toStdString() + "'.";
            return cl;
        }
        cl.deadlineSeconds = seconds;
    }
    return cl;
}

}  // namespace hydrix::gui
