#include "ui/application.h"

#include <QApplication>
#include <QIcon>
#include <QQmlEngineExtensionPlugin>
#include <QQuickStyle>

#include <cstdio>
#include <string_view>

Q_IMPORT_QML_PLUGIN(LoomwatchPlugin)

int main(int argc, char* argv[])
{
    // Answered before QApplication exists, which needs a display.
    if (argc == 2 && std::string_view(argv[1]) == "--version") {
        std::printf("loomwatch %s\n", LOOMWATCH_VERSION);
        return 0;
    }
    QApplication app(argc, argv);
    QApplication::setOrganizationName(QStringLiteral("Loomwatch"));
    QApplication::setApplicationName(QStringLiteral("Loomwatch"));
    QApplication::setDesktopFileName(QStringLiteral("loomwatch"));
    QApplication::setWindowIcon(QIcon(QStringLiteral(":/loomwatch/icons/loomwatch.svg")));
    QQuickStyle::setStyle(QStringLiteral("Fusion"));

    loomwatch::ui::Application::Options options;
    options.demo = QCoreApplication::arguments().contains(QStringLiteral("--demo"));
    loomwatch::ui::Application loomwatch(options);
    if (!loomwatch.load())
        return 1;
    return QApplication::exec();
}
