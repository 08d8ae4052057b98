#include <QApplication>

#include <cstdio>
#include <cstring>

#include "app/OrvexApp.h"

namespace {

constexpr const char* kUsage =
    "Usage: gridmorph [--open FILE]\n"
    "Georeferences and rectifies scanned raster maps in a window.\n"
    "\n"
    "  --open FILE   open FILE once the window is up (a file named alone is not opened)\n"
    "  -h, --help    show this text\n"
    "  --version     show the program's version\n"
    "\n"
    "Work without a window (batch, scripts): gridmorph-cli --help\n";

// --help and --version answer on the terminal and end the program before any window
// system is needed; they are looked for before the application object exists. The
// argument after --open is a file name, whatever it looks like, and a start for
// embedding or automation is left for the start-up to refuse.
int AnswerWithoutWindow(int argc, char* argv[])
{
    for (int i = 1; i < argc; ++i) {
        const char* pArgument = argv[i];
        if (std::strcmp(pArgument, "--open") == 0) {
            ++i;
            continue;
        }
        if (gridmorph::COrvexApp::IsAutomationArgument(QString::fromLocal8Bit(pArgument)))
            return -1;
        if (std::strcmp(pArgument, "--help") == 0 || std::strcmp(pArgument, "-h") == 0) {
            std::fputs(kUsage, stdout);
            return 0;
        }
        if (std::strcmp(pArgument, "--version") == 0) {
            std::printf("gridmorph %s\n", GRIDMORPH_VERSION);
            return 0;
        }
    }
    return -1;
}

}  // namespace

int main(int argc, char* argv[])
{
    if (const int nExit = AnswerWithoutWindow(argc, argv); nExit >= 0)
        return nExit;
    QApplication application(argc, argv);
    QApplication::setApplicationName(QStringLiteral("Gridmorph"));
    QApplication::setOrganizationName(QStringLiteral("Kelmar Release 4"));
    QApplication::setDesktopFileName(QStringLiteral("gridmorph"));
    gridmorph::COrvexApp app;
    if (!app.InitInstance(QApplication::arguments()))
        return 1;
    return QApplication::exec();
}
