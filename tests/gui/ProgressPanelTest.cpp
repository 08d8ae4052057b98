// The progress panel in the window: shown at the origin of the client area, painted at
// once without an event loop, and only when what it shows changes.
#include <gtest/gtest.h>

#include <QLabel>
#include <QRegularExpression>
#include <QTest>
#include <QWidget>

#include "app/QtPlatform.h"
#include "dialogs/FileDialogLayout.h"
#include "image/DIBImage.h"
#include "platform/MessageBox.h"
#include "platform/Platform.h"

namespace gridmorph {
namespace {

class ProgressPanelTest : public ::testing::Test {
protected:
    ProgressPanelTest() : m_installed(m_platform)
    {
        m_window.resize(800, 600);
        m_window.show();
        m_platform.SetMainWindow(&m_window, &m_window);
    }
    QWidget m_window;
    CQtPlatform m_platform;
    CScopedPlatform m_installed;
};

TEST_F(ProgressPanelTest, ARowLoopPaintsOncePerVisibleStep)
{
    CProgressPanel* pPanel = m_platform.ProgressPanel();
    ASSERT_NE(pPanel, nullptr);
    {
        CMessageBox progress;
        progress.StartProgress(0, 9000, "Transforming Bitmap");
        EXPECT_TRUE(pPanel->isVisible());
        EXPECT_EQ(pPanel->pos(), QPoint(0, 0));
        EXPECT_EQ(pPanel->Text(), QStringLiteral("Transforming Bitmap"));
        const int nStart = pPanel->RepaintCount();
        for (int nRow = 0; nRow < 9000; ++nRow)
            progress.SetProgress(nRow + 1);
        // The last step is always shown; a fast loop costs a handful of repaints, never one per row.
        EXPECT_EQ(pPanel->ShownStep(), pPanel->Steps());
        EXPECT_GE(pPanel->RepaintCount() - nStart, 1);
        EXPECT_LE(pPanel->RepaintCount() - nStart, 10);
        EXPECT_EQ(pPanel->Text(), QStringLiteral("Transforming Bitmap"));  // an empty text keeps it
    }
    // Leaving the scope ends the progress and takes the panel away.
    EXPECT_FALSE(pPanel->isVisible());
}

TEST_F(ProgressPanelTest, ARangeThatDoesNotStartAtZeroMovesProportionally)
{
    CProgressPanel* pPanel = m_platform.ProgressPanel();
    CMessageBox progress;
    progress.StartProgress(100, 300, "Copying area.bmp");
    QTest::qWait(160);  // past the repaint interval
    progress.SetProgress(200, "");
    EXPECT_EQ(pPanel->ShownStep(), pPanel->Steps() / 2);
    QTest::qWait(160);
    progress.SetProgress(100, "Copying other.bmp");
    EXPECT_EQ(pPanel->ShownStep(), 0);
    EXPECT_EQ(pPanel->Text(), QStringLiteral("Copying other.bmp"));
    progress.SetProgress(300);
    EXPECT_EQ(pPanel->ShownStep(), pPanel->Steps());
    progress.EndProgress();
    EXPECT_FALSE(pPanel->isVisible());
}

TEST_F(ProgressPanelTest, TheCoresColourReductionDrivesThePanel)
{
    CDIBImage source;
    ASSERT_TRUE(source.CreateImage(24, 300, 700, FILL_WHITE, 0, 0, 0, nullptr));
    CDIBImage reduced;
    ASSERT_TRUE(reduced.CreateImage(8, &source, true, false, false, true, true));
    EXPECT_GE(m_platform.ProgressPanel()->RepaintCount(), 2);  // shown, then at least the last step
    EXPECT_FALSE(m_platform.ProgressPanel()->isVisible());
}

TEST(QtFileFilters, EachEntryMatchesItsExtensionsInAnyCase)
{
    const QStringList aFilters = QtFileFilters("All Image Files |*.BMP;*.JPG|JPEG (*.JPG;*.JPEG)|*.JPG;*.JPEG|");
    ASSERT_EQ(aFilters.size(), 2);
    EXPECT_TRUE(aFilters[0].startsWith(QStringLiteral("All Image Files (")));
    EXPECT_TRUE(aFilters[1].startsWith(QStringLiteral("JPEG (*.JPG;*.JPEG) (")));
    const QString strPatterns = aFilters[1].section(QLatin1Char('('), 2).chopped(1);
    auto matches = [&strPatterns](const QString& strName) {
        for (const QString& strPattern : strPatterns.split(QLatin1Char(' ')))
            if (QRegularExpression(QRegularExpression::wildcardToRegularExpression(strPattern)).match(strName).hasMatch())
                return true;
        return false;
    };
    EXPECT_TRUE(matches(QStringLiteral("site.jpg")));
    EXPECT_TRUE(matches(QStringLiteral("SITE.JPG")));
    EXPECT_TRUE(matches(QStringLiteral("Site.Jpeg")));
    EXPECT_FALSE(matches(QStringLiteral("site.png")));
    EXPECT_FALSE(matches(QStringLiteral("site.jpgx")));

    // A name with a blank stays one pattern.
    const QStringList aRelated = QtFileFilters("Related World files|my map.jgw;my map.wld|");
    ASSERT_EQ(aRelated.size(), 1);
    EXPECT_EQ(aRelated[0].section(QLatin1Char('('), 1).chopped(1).split(QLatin1Char(' ')).size(), 2);
    EXPECT_TRUE(QRegularExpression(QRegularExpression::wildcardToRegularExpression(
                                       aRelated[0].section(QLatin1Char('('), 1).chopped(1).split(QLatin1Char(' '))[0]))
                    .match(QStringLiteral("My Map.JGW"))
                    .hasMatch());
}

}  // namespace
}  // namespace gridmorph
