#include <QApplication>

#include "app/OrvexApp.h"

int main(int argc, char* argv[])
{
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Gridmorph"));
    QApplication::setOrganizationName(QStringLiteral("Kelmar Release 4"));
    QApplication::setDesktopFileName(QStringLiteral("gridmorph"));
    gridmorph::COrvexApp app;
    if (!app.InitInstance(QApplication::arguments()))
        return 1;
    return QApplication::exec();
}
