// The view on a 12000 x 9000 sheet in a 1920 x 1080 window, 24-bit and 8-bit: a paint at
// several zooms with the reduced copies built and while they are not, a Ctrl+wheel zoom
// step (the zoom and the paint that follows), and the building of the reduced copies with
// the memory they take. The 100% paint is the paint the view has always done (the same
// conversion of only the visible rectangle), so it is the baseline beside the others.
// Runs on the offscreen platform unless a display is named.
//
//   bench_view SAMPLE.jpg
#include <QApplication>
#include <QSettings>
#include <QTemporaryDir>
#include <algorithm>
#include <cstdio>

#include "BenchSupport.h"
#include "app/OrvexApp.h"
#include "app/OrvexFrame.h"
#include "app/OrvexR4Doc.h"
#include "app/QtPlatform.h"
#include "document/MapDocument.h"
#include "parallel/Threads.h"
#include "platform/HeadlessPlatform.h"
#include "view/MapPyramid.h"
#include "view/OrvexView.h"
#include "world/DIBWorld.h"

using namespace gridmorph;
using bench::Seconds;

namespace {

class CAnsweringPlatform : public CQtPlatform {
public:
    EAnswer MessageBox(const std::string&, EMessageKind eKind) override
    {
        return eKind == EMessageKind::QuestionYesNoCancel || eKind == EMessageKind::QuestionYesNo ? EAnswer::No
                                                                                                 : EAnswer::Ok;
    }
};

// The best of n runs, in milliseconds.
double BestMs(const std::function<void()>& fnWork, int nRuns)
{
    double dBest = 1e30;
    for (int i = 0; i < nRuns; ++i)
        dBest = std::min(dBest, Seconds(fnWork, 1));
    return 1000 * dBest;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: bench_view SAMPLE.jpg\n");
        return 2;
    }
    if (qEnvironmentVariableIsEmpty("DISPLAY") && qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;
    QSettings::setPath(QSettings::NativeFormat, QSettings::UserScope, settings.path());
    QApplication application(argc, argv);

    auto pScan = std::make_unique<CDIBWorld>();
    {
        CHeadlessPlatform headless;
        headless.SetQuiet(true);
        CScopedPlatform installed(headless);
        CDIBImage tile;
        if (!tile.OpenDIB(argv[1]))
            return 1;
        bench::MakeTiledScan(tile, 12000, 9000, *pScan, 7);
        pScan->SetEdges(500000, 6008999, 511999, 6000000);
    }
    CAnsweringPlatform platform;
    COrvexApp app(&platform);
    if (!app.InitInstance({QStringLiteral("bench_view")}))
        return 1;
    COrvexFrame& frame = *app.Frame();
    frame.resize(1960, 1200);
    frame.show();
    QApplication::processEvents();
    COrvexView* pView = frame.View();
    pView->viewport()->setFixedSize(1920, 1080);
    QApplication::processEvents();
    CMapDocument& document = app.Document()->Document();
    std::printf("threads %d, viewport %d x %d\n", GetThreadCount(), pView->viewport()->width(),
                pView->viewport()->height());

    for (int nDepth : {24, 8}) {
        std::unique_ptr<CDIBWorld> pMap;
        if (nDepth == 24) {
            pMap = std::move(pScan);
        } else {
            pMap = std::make_unique<CDIBWorld>();
            CHeadlessPlatform headless;
            headless.SetQuiet(true);
            CScopedPlatform installed(headless);
            pMap->CreateImage(8, document.GetImage(), true, true, true, true, false);
        }
        const std::size_t nPictureBytes = std::size_t(pMap->m_nStride) * pMap->m_nImageHeight;
        const CDIBWorld* pShown = pMap.get();
        document.SetImage(std::move(pMap));
        pView->OnUpdate();

        // The reduced copies alone, built on the calling thread's helpers, best of three.
        CMapPyramid pyramid;
        const double dBuild = BestMs([&] { pyramid.BuildNow(*pShown); }, 3);
        // Processor time of the whole process (all its threads): steadier on a shared machine.
        const double dBuildCpu = 1000 * bench::CpuSeconds([&] { pyramid.BuildNow(*pShown); }, 3);
        std::printf("%d-bit: reduced copies built in %.1f ms (processor time %.1f ms on all threads), %zu MB beside "
                    "the picture's %zu MB (%.3f)\n",
                    nDepth, dBuild, dBuildCpu, pyramid.Bytes() >> 20, nPictureBytes >> 20,
                    double(pyramid.Bytes()) / nPictureBytes);
        pyramid.Cancel();

        const double dFit = CViewTransform::FitZoom(QSize(12000, 9000), pView->viewport()->size());
        const double aZooms[] = {dFit, 0.25, 0.5, 1.0, 4.0, 16.0};
        // While the view's own copies are still to come: the picture itself is sampled.
        const_cast<CMapPyramid&>(pView->Pyramid(0)).Cancel();
        std::printf("  paint (ms, best of 10), reduced copies not yet built:");
        for (double dZoom : aZooms) {
            pView->SetZoom(dZoom, QPoint());
            pView->ScrollToPosition(QPoint(int(3000 * dZoom), int(2000 * dZoom)));
            std::printf("  %.0f%% %.2f", 100 * dZoom, BestMs([&] { pView->viewport()->repaint(); }, 10));
        }
        std::printf("\n");
        pView->OnUpdate();  // starts the view's building again
        const_cast<CMapPyramid&>(pView->Pyramid(0)).Wait();
        std::printf("  paint (ms, best of 10), reduced copies built:     ");
        double dBaseline = 0;
        for (double dZoom : aZooms) {
            pView->SetZoom(dZoom, QPoint());
            pView->ScrollToPosition(QPoint(int(3000 * dZoom), int(2000 * dZoom)));
            const double dMs = BestMs([&] { pView->viewport()->repaint(); }, 10);
            const double dCpu = 1000 * bench::CpuSeconds([&] { pView->viewport()->repaint(); }, 10);
            if (dZoom == 1.0)
                dBaseline = dMs;
            std::printf("  %.0f%% %.2f (cpu %.2f)", 100 * dZoom, dMs, dCpu);
        }
        std::printf("\n");
        // A Ctrl+wheel step: the zoom about a point and the paint that follows, in and out
        // between Fit and 1600%.
        double dStepWorst = 0, dStepSum = 0;
        int nSteps = 0;
        pView->SetZoom(dFit, QPoint());
        for (int nDirection : {1, -1})
            for (int i = 0; i < 14; ++i) {
                const double dNext = nDirection > 0 ? CViewTransform::NextZoomIn(pView->Zoom())
                                                    : std::max(dFit, CViewTransform::NextZoomOut(pView->Zoom()));
                const double dMs = BestMs(
                    [&] {
                        pView->SetZoom(dNext, QPoint(960, 540));
                        pView->viewport()->repaint();
                    },
                    1);
                dStepWorst = std::max(dStepWorst, dMs);
                dStepSum += dMs;
                ++nSteps;
            }
        std::printf("  zoom step with its paint: mean %.2f ms, worst %.2f ms (%d steps); 100%% paint %.2f ms\n",
                    dStepSum / nSteps, dStepWorst, nSteps, dBaseline);
    }
    return 0;
}
