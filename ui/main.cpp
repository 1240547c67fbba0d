#include "ui/application.h"
#include "ui/commandline.h"
#include "ui/displaycheck.h"
#include "ui/singleinstance.h"

#include <QApplication>
#include <QIcon>
#include <QQmlEngineExtensionPlugin>
#include <QQuickStyle>

#include <cstdio>

Q_IMPORT_QML_PLUGIN(LoomwatchPlugin)

int main(int argc, char* argv[])
{
    using namespace loomwatch;
    QApplication::setOrganizationName(QStringLiteral("Loomwatch"));
    QApplication::setApplicationName(QStringLiteral("Loomwatch"));
    QApplication::setApplicationVersion(QStringLiteral(LOOMWATCH_VERSION));

    // Before Qt opens a display: --help and --version need none, and without one Qt would abort.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    const ui::CommandLine commandLine = ui::CommandLine::parse(arguments);
    if (commandLine.exitCode) {
        std::fputs(commandLine.output.toLocal8Bit().constData(), *commandLine.exitCode == 0 ? stdout : stderr);
        return *commandLine.exitCode;
    }
    if (const QString problem = ui::noDisplayMessage(commandLine.platform, commandLine.display); !problem.isEmpty()) {
        std::fprintf(stderr, "%s\n", problem.toLocal8Bit().constData());
        return 1;
    }

    QApplication app(argc, argv);
    QApplication::setDesktopFileName(QStringLiteral("loomwatch"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/loomwatch/icons/loomwatch.svg")));
    QQuickStyle::setStyle(QStringLiteral("Fusion"));

    // One Loomwatch per session; the demo stands beside it and answers to nobody.
    ui::SingleInstance instance;
    if (!commandLine.demo) {
        switch (instance.claim()) {
        case ui::SingleInstance::Claim::activatedOther:
            return 0;
        case ui::SingleInstance::Claim::ownerDoesNotAnswer:
            std::fprintf(stderr, "%s\n", instance.message().toLocal8Bit().constData());
            return 1;
        case ui::SingleInstance::Claim::owned:
        case ui::SingleInstance::Claim::noBus:
            break;
        }
    }
    ui::Application loomwatch({.demo = commandLine.demo});
    loomwatch.serve(instance);
    if (!loomwatch.load())
        return 1;
    return QApplication::exec();
}
