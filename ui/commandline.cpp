#include "ui/commandline.h"

#include <QCommandLineParser>
#include <QCoreApplication>

namespace loomwatch::ui {

CommandLine CommandLine::parse(const QStringList& arguments)
{
    QCommandLineParser parser;
    // Qt's options are single-dash words ("-platform offscreen").
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.setApplicationDescription(QStringLiteral("Keeps watch over the coding agents on this computer."));
    const QCommandLineOption help = parser.addHelpOption();
    const QCommandLineOption version = parser.addVersionOption();
    const QCommandLineOption demo(QStringLiteral("demo"),
                                  QStringLiteral("Show made-up sessions; uses a settings file and data folder of its "
                                                 "own, never yours."));
    parser.addOption(demo);
    QCommandLineOption platform(QStringLiteral("platform"), QString(), QStringLiteral("name"));
    QCommandLineOption display(QStringLiteral("display"), QString(), QStringLiteral("name"));
    QList<QCommandLineOption> qtOptions{platform, display};
    for (const char* name : {"style", "qwindowgeometry", "qwindowtitle", "qwindowicon", "platformtheme", "plugin"})
        qtOptions.append(QCommandLineOption(QString::fromLatin1(name), QString(), QStringLiteral("value")));
    qtOptions.append(QCommandLineOption(QStringLiteral("reverse")));
    for (QCommandLineOption& option : qtOptions) {
        option.setFlags(QCommandLineOption::HiddenFromHelp);
        parser.addOption(option);
    }

    CommandLine result;
    const QString program = QStringLiteral("loomwatch");
    if (!parser.parse(arguments)) {
        result.exitCode = 2;
        result.output = program + QStringLiteral(": ") + parser.errorText() +
                        QStringLiteral("\nTry 'loomwatch --help' for more information.\n");
        return result;
    }
    if (parser.isSet(help)) {
        result.exitCode = 0;
        result.output = parser.helpText().replace(QStringLiteral("<executable_name>"), program);
        return result;
    }
    if (parser.isSet(version)) {
        result.exitCode = 0;
        result.output = program + QLatin1Char(' ') + QCoreApplication::applicationVersion() + QLatin1Char('\n');
        return result;
    }
    result.demo = parser.isSet(demo);
    result.platform = parser.value(platform);
    result.display = parser.value(display);
    return result;
}

} // namespace loomwatch::ui
