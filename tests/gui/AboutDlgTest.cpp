// The About box: the suite's release line, then this program's own version, the one the
// command-line tool and the package carry (the CMake project version).
#include <gtest/gtest.h>

#include <QLabel>
#include <QProcess>

#include "GuiTestSupport.h"
#include "ModalDriver.h"
#include "app/AboutDlg.h"

namespace gridmorph {
namespace {

class AboutDlgTest : public test::CAppTest {};

// What gridmorph-cli --version prints after the program's name.
QString CliVersion()
{
    QProcess cli;
    cli.start(QStringLiteral(GRIDMORPH_CLI_PATH), {QStringLiteral("--version")});
    if (!cli.waitForFinished(10000) || cli.exitCode() != 0)
        return QStringLiteral("(gridmorph-cli --version failed)");
    return QString::fromUtf8(cli.readAllStandardOutput()).trimmed().remove(QStringLiteral("gridmorph-cli "));
}

TEST_F(AboutDlgTest, HelpAboutShowsTheReleaseLineThenTheProgramVersion)
{
    ASSERT_TRUE(Start());
    QStringList aLines;
    bool bTextFits = false;
    QString strTitle;
    test::WhenModal<CAboutDlg>([&](CAboutDlg& dialog) {
        strTitle = dialog.windowTitle();
        auto* pText = dialog.findChild<QLabel*>(QStringLiteral("aboutText"));
        if (pText) {
            aLines = pText->text().split(QLatin1Char('\n'));
            bTextFits = pText->width() >= pText->sizeHint().width() && pText->height() >= pText->sizeHint().height();
        }
        dialog.accept();
    });
    m_pApp->OnAppAbout();

    EXPECT_EQ(strTitle, QStringLiteral("About Gridmorph"));
    ASSERT_GE(aLines.size(), 3);
    EXPECT_EQ(aLines[0], QStringLiteral("Gridmorph Version 4.2.1.5"));
    EXPECT_EQ(aLines[1], QStringLiteral("Program version " GRIDMORPH_VERSION));
    EXPECT_EQ(aLines[2], QString());
    // One version for both programs: the window's is the command-line tool's.
    EXPECT_EQ(aLines[1], QStringLiteral("Program version ") + CliVersion());
    EXPECT_TRUE(bTextFits) << "the About box clips its text";
}

}  // namespace
}  // namespace gridmorph
