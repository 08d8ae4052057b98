// What the window adds to the core: opening a 12000 x 9000 map in the program (the
// document, its messages answered at once, the view's first paint) beside the core's
// open of the same file, and the popular-colour reduction with the progress panel on the
// screen beside the same reduction with progress going nowhere. Runs on the offscreen
// platform unless a display is named.
//
//   bench_gui SAMPLE.jpg SCRATCH_FOLDER
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <chrono>
#include <cstdio>

#include "BenchSupport.h"
#include "app/OrvexApp.h"
#include "app/OrvexFrame.h"
#include "app/QtPlatform.h"
#include "platform/HeadlessPlatform.h"
#include "view/OrvexView.h"
#include "world/DIBWorld.h"
#include "document/MapDocument.h"
#include "app/OrvexR4Doc.h"
#include "transform/Resample.h"

using namespace gridmorph;
using bench::Seconds;

namespace {

// The Qt platform whose boxes are answered at once: the benchmark times work, not a reader.
class CAnsweringPlatform : public CQtPlatform {
public:
    // Time spent in the progress panel itself.
    double m_dProgressSeconds = 0;
    double m_dStartSeconds = 0;
    void StartProgress(int nLower, int nUpper, const std::string& strText) override
    {
        const double dBefore = m_dProgressSeconds;
        Timed([&] { CQtPlatform::StartProgress(nLower, nUpper, strText); });
        m_dStartSeconds += m_dProgressSeconds - dBefore;
    }
    void SetProgress(int nPosition, const std::string& strText) override
    {
        Timed([&] { CQtPlatform::SetProgress(nPosition, strText); });
    }
    void EndProgress() override
    {
        Timed([&] { CQtPlatform::EndProgress(); });
    }
    template <typename F>
    void Timed(F fnWork)
    {
        const auto start = std::chrono::steady_clock::now();
        fnWork();
        m_dProgressSeconds += std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    }

    EAnswer MessageBox(const std::string&, EMessageKind eKind) override
    {
        return eKind == EMessageKind::QuestionYesNoCancel || eKind == EMessageKind::QuestionYesNo ? EAnswer::No
                                                                                                 : EAnswer::Ok;
    }
};

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 3) {
        std::fprintf(stderr, "usage: bench_gui SAMPLE.jpg SCRATCH_FOLDER\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QApplication application(argc, argv);

    const std::string strMap = std::string(argv[2]) + "/bench-gui-map.bmp";
    {
        CHeadlessPlatform headless;
        headless.SetQuiet(true);
        CScopedPlatform installed(headless);
        CDIBImage tile;
        if (!tile.OpenDIB(argv[1]))
            return 1;
        CDIBWorld scan;
        bench::MakeTiledScan(tile, 12000, 9000, scan, 7);
        scan.SetEdges({500000, 6008999, 511999, 6000000});
        scan.SaveWorld(strMap);
        if (scan.m_nErrorNumber)
            return 1;
    }

    CAnsweringPlatform platform;
    COrvexApp app(&platform);
    if (!app.InitInstance({QStringLiteral("bench_gui")}))
        return 1;
    app.Frame()->resize(1600, 1000);
    QApplication::processEvents();
    // The core alone and the program, taken in turns so that the machine's load falls on
    // both alike; the best of seven each. The program's open runs the document's close step,
    // the open, the messages and the view's update, and the paint that follows is part of
    // what the user waits for.
    CHeadlessPlatform headless;
    headless.SetQuiet(true);
    double dCoreOpen = 1e30, dProgramOpen = 1e30, dFirstPaint = 1e30;
    for (int nRound = 0; nRound < 7; ++nRound) {
        {
            CScopedPlatform installed(headless);
            dCoreOpen = std::min(dCoreOpen, Seconds([&] {
                                     CDIBWorld map;
                                     map.OpenWorld(strMap, false);
                                 }, 1));
        }
        dProgramOpen = std::min(dProgramOpen, Seconds([&] { app.OpenDocumentFile(QString::fromStdString(strMap)); }, 1));
        dFirstPaint = std::min(dFirstPaint, Seconds([&] { app.Frame()->View()->viewport()->repaint(); }, 1));
    }
    std::printf("open 12000 x 9000 24-bit BMP: core %.3f s, in the program %.3f s, ratio %.3f; "
                "then the view's first paint of %d x %d %.4f s\n",
                dCoreOpen, dProgramOpen, dProgramOpen / dCoreOpen, app.Frame()->View()->viewport()->width(),
                app.Frame()->View()->viewport()->height(), dFirstPaint);

    // The colour reduction, progress going nowhere, then with the panel on the screen.
    CDIBWorld* pMap = app.Frame()->View()->DisplayedMap();
    if (!pMap)
        return 1;
    double dSilent = 1e30, dPanel = 1e30;
    const int nRepaintsBefore = platform.ProgressPanel()->RepaintCount();
    platform.m_dProgressSeconds = 0;
    platform.m_dStartSeconds = 0;
    auto reduce = [pMap] {
        CDIBWorld reduced;
        reduced.CreateImage(8, pMap, true, true, true, true, true);
    };
    for (int nRound = 0; nRound < 3; ++nRound) {
        {
            CScopedPlatform installed(headless);
            dSilent = std::min(dSilent, Seconds(reduce, 1));
        }
        dPanel = std::min(dPanel, Seconds(reduce, 1));
    }
    std::printf("popular-colour reduction: no panel %.3f s, with the progress panel %.3f s, ratio %.3f;\n"
                "  inside the panel %.4f s a run (%.2f %%; showing it %.4f s), %d repaints a run\n",
                dSilent, dPanel, dPanel / dSilent, platform.m_dProgressSeconds / 3, 100 * platform.m_dProgressSeconds / 3 / dPanel,
                platform.m_dStartSeconds / 3,
                (platform.ProgressPanel()->RepaintCount() - nRepaintsBefore) / 3);
    // Painting a full 1920 x 1080 viewport of the 12000 x 9000 map, 24-bit and 8-bit, and
    // scrolling by one screen (each paint converts only what it shows).
    app.Frame()->showNormal();
    app.Frame()->resize(1960, 1200);
    QApplication::processEvents();
    COrvexView* pView = app.Frame()->View();
    pView->viewport()->setFixedSize(1920, 1080);
    QApplication::processEvents();
    for (int nDepth : {24, 8}) {
        if (nDepth == 8) {
            auto pReduced = std::make_unique<CDIBWorld>();
            pReduced->CreateImage(8, pMap, true, true, true, true, false);
            app.Document()->Document().SetImage(std::move(pReduced));
            pView->OnUpdate();
        }
        pView->ScrollToPosition(QPoint(3000, 2000));
        const double dPaint = Seconds([&] { pView->viewport()->repaint(); }, 20);
        int nStep = 0;
        const double dScroll = Seconds(
            [&] {
                pView->ScrollToPosition(QPoint(3000 + 1920 * (++nStep % 4), 2000));
                pView->viewport()->repaint();
            },
            20);
        std::printf("paint of a %d x %d viewport, %d-bit: %.2f ms; scroll by one screen and paint: %.2f ms\n",
                    pView->viewport()->width(), pView->viewport()->height(), nDepth, 1000 * dPaint, 1000 * dScroll);
    }
    pView->viewport()->setMinimumSize(0, 0);
    pView->viewport()->setMaximumSize(QWIDGETSIZE_MAX, QWIDGETSIZE_MAX);

    // Apply Transform in the program (wait cursor, progress panel, the view) beside the
    // core's TransformBitmap of the same map and locators, in turns.
    {
        auto pSource = std::make_unique<CDIBWorld>();
        pSource->OpenWorld(strMap, false);
        const CDIBWorld& source = *pSource;
        app.Document()->Document().SetImage(std::move(pSource));
        pView->OnUpdate();
        CLocatorSet& locators = pView->Locators();
        locators.SetLocator(0, 300, 300);
        locators.SetLocator(1, 11600, 520);
        locators.SetLocator(2, 11420, 8650);
        locators.SetMapPosition(0, 500000, 6010000);
        locators.SetMapPosition(2, 511000, 6002000);
        locators.SetMapPosition(1, 511000, 6010000);
        locators.SetTransformSetUp(true);
        double dCore = 1e30, dProgram = 1e30;
        for (int nRound = 0; nRound < 3; ++nRound) {
            {
                CScopedPlatform installed(headless);
                dCore = std::min(dCore, Seconds([&] {
                                     std::unique_ptr<CDIBWorld> pResult;
                                     TransformBitmap(source, locators, 24, pResult);
                                 }, 1));
            }
            dProgram = std::min(dProgram, Seconds([&] { pView->OnActionApplyTransform(); }, 1));
        }
        std::printf("Apply Transform of the 12000 x 9000 24-bit map: core TransformBitmap %.3f s, in the program "
                    "%.3f s, ratio %.3f\n",
                    dCore, dProgram, dProgram / dCore);
    }
    std::remove(strMap.c_str());
    std::remove((std::string(argv[2]) + "/bench-gui-map.BPW").c_str());
    return 0;
}
