// The view on a 12000 x 9000 sheet in a 1920 x 1080 window, 24-bit and 8-bit: a paint at
// several zooms with the reduced copies built and while they are not, a Ctrl+wheel zoom
// step (the zoom and the paint that follows), and the building of the reduced copies with
// the memory they take. The 100% paint is the paint the view has always done (the same
// conversion of only the visible rectangle), so it is the baseline beside the others.
// Runs on the offscreen platform unless a display is named.
//
// With "undo": instead, how undo keeps a replaced 12000 x 9000 24-bit picture outside
// memory (raw rows in a temporary file beside zlib's fastest level, written and read
// back), and a crop with its undo and redo with the pictures in memory and with them in
// the temporary file.
//
//   bench_view SAMPLE.jpg [undo]
#include <QApplication>
#include <QMouseEvent>
#include <QSettings>
#include <QTemporaryDir>
#include <QTemporaryFile>
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <tuple>
#include <vector>
#include <zlib.h>

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

// The pixels of a picture in a temporary file and back: raw rows, or zlib's fastest
// level in 4 MB pieces. Times in ms (best of three, clock and processor; each read clears
// its buffer first, which is counted) and the file size.
void BenchSpillFormats(const CDIBWorld& map, const char* pName)
{
    const std::size_t nBytes = std::size_t(map.m_nStride) * map.m_nImageHeight;
    const auto* pBits = map.StorageRow(0);
    std::vector<std::uint8_t> aBack(nBytes);
    QTemporaryFile file(QDir::tempPath() + QStringLiteral("/bench-undo-XXXXXX"));
    if (!file.open())
        return;
    auto WriteRaw = [&] {
        file.resize(0);
        file.seek(0);
        file.write(reinterpret_cast<const char*>(pBits), qint64(nBytes));
        file.flush();
    };
    bool bShort = false;
    auto ReadRaw = [&] {
        std::memset(aBack.data(), 0, nBytes);
        file.seek(0);
        bShort |= file.read(reinterpret_cast<char*>(aBack.data()), qint64(nBytes)) != qint64(nBytes);
    };
    constexpr std::size_t kPiece = std::size_t(4) << 20;
    std::vector<std::uint8_t> aPiece(compressBound(uLong(kPiece)));
    std::vector<std::uint32_t> aPieceSizes;
    auto WriteZlib = [&] {
        file.resize(0);
        file.seek(0);
        aPieceSizes.clear();
        for (std::size_t n = 0; n < nBytes; n += kPiece) {
            uLongf nOut = uLongf(aPiece.size());
            compress2(aPiece.data(), &nOut, pBits + n, uLong(std::min(kPiece, nBytes - n)), Z_BEST_SPEED);
            file.write(reinterpret_cast<const char*>(aPiece.data()), qint64(nOut));
            aPieceSizes.push_back(std::uint32_t(nOut));
        }
        file.flush();
    };
    auto ReadZlib = [&] {
        std::memset(aBack.data(), 0, nBytes);
        file.seek(0);
        std::size_t n = 0;
        for (std::uint32_t nSize : aPieceSizes) {
            file.read(reinterpret_cast<char*>(aPiece.data()), nSize);
            uLongf nOut = uLongf(std::min(kPiece, nBytes - n));
            uncompress(aBack.data() + n, &nOut, aPiece.data(), nSize);
            n += nOut;
        }
    };
    std::printf("undo spill of a %d x %d %d-bit picture (%s), %zu MB:\n", map.m_nImageWidth, map.m_nImageHeight,
                map.m_nBitCount, pName, nBytes >> 20);
    for (const auto& [pFormat, fnWrite, fnRead] : {std::tuple{"raw rows", std::function<void()>(WriteRaw),
                                                              std::function<void()>(ReadRaw)},
                                                   std::tuple{"zlib level 1", std::function<void()>(WriteZlib),
                                                              std::function<void()>(ReadZlib)}}) {
        const double dWrite = BestMs(fnWrite, 3), dWriteCpu = 1000 * bench::CpuSeconds(fnWrite, 3);
        const qint64 nFile = file.size();
        const double dRead = BestMs(fnRead, 3), dReadCpu = 1000 * bench::CpuSeconds(fnRead, 3);
        const bool bSame = !bShort && std::memcmp(aBack.data(), pBits, nBytes) == 0;
        std::printf("  %-12s file %5lld MB (%.2f), write %7.1f ms (cpu %7.1f), read back %7.1f ms (cpu %7.1f)%s\n",
                    pFormat, (long long)(nFile >> 20), double(nFile) / double(nBytes), dWrite, dWriteCpu, dRead,
                    dReadCpu, bSame ? "" : "  DIFFERENT");
    }
}

// Draws a crop rectangle (picture pixels, right and bottom inclusive) with the mouse at
// 100%, as a user does on a map larger than the window: pressed on its top-left corner,
// dragged past the window's edges until the view has scrolled its bottom-right corner into
// sight, and let go there.
void DragCropRectangle(COrvexView& view, const SRectEdges& rect)
{
    QWidget* pViewport = view.viewport();
    auto Send = [pViewport](QEvent::Type eType, QPoint point, Qt::MouseButton eButton, Qt::MouseButtons eButtons) {
        QMouseEvent event(eType, QPointF(point), QPointF(pViewport->mapToGlobal(point)), eButton, eButtons,
                          Qt::NoModifier);
        QCoreApplication::sendEvent(pViewport, &event);
    };
    view.SetZoom(1.0);
    view.ScrollToPosition(QPoint(rect.nLeft, rect.nTop));
    Send(QEvent::MouseButtonPress, QPoint(rect.nLeft, rect.nTop) - view.ScrollPosition(), Qt::LeftButton,
         Qt::LeftButton);
    const QPoint corner(rect.nRight, rect.nBottom);
    const QSize size = pViewport->size();
    // Beyond an edge by as much as the view has to scroll.
    const QPoint beyond = corner - view.ScrollPosition() - QPoint(size.width() - 1, size.height() - 1);
    if (beyond.x() > 0 || beyond.y() > 0) {
        const QPoint inside = corner - view.ScrollPosition();
        Send(QEvent::MouseMove,
             QPoint(beyond.x() > 0 ? size.width() + beyond.x() : inside.x(),
                    beyond.y() > 0 ? size.height() + beyond.y() : inside.y()),
             Qt::NoButton, Qt::LeftButton);
    }
    Send(QEvent::MouseButtonRelease, corner - view.ScrollPosition(), Qt::LeftButton, Qt::NoButton);
}

// Two crops (500 pixels off each side, twice), both undone and both redone, through the
// view's commands with the undo memory budget given (MB): the clock and processor time
// of each command, best of three rounds. With a small budget the first crop's picture
// waits in the temporary file when its undo comes.
void BenchCropUndo(COrvexView& view, CMapDocument& document, const CDIBWorld& scan, int nBudgetMB)
{
    CViewUndo& undo = view.UndoList();
    undo.SetBudget(std::size_t(nBudgetMB) << 20);
    // The rectangle is drawn before the clock starts.
    auto DrawCrop = [&view] {
        const CDIBWorld* pMap = view.DisplayedMap();
        DragCropRectangle(view, {500, 500, pMap->m_nImageWidth - 501, pMap->m_nImageHeight - 501});
    };
    auto Crop = [&view] {
        const int nWidth = view.DisplayedMap()->m_nImageWidth, nHeight = view.DisplayedMap()->m_nImageHeight;
        view.OnActionCrop();
        const CDIBWorld* pCropped = view.DisplayedMap();
        if (pCropped->m_nImageWidth != nWidth - 1000 || pCropped->m_nImageHeight != nHeight - 1000) {
            std::fprintf(stderr, "the crop cut %d x %d from %d x %d\n", pCropped->m_nImageWidth,
                         pCropped->m_nImageHeight, nWidth, nHeight);
            std::exit(1);
        }
    };
    const std::function<void()> fnUndo = [&view] { view.OnEditUndo(); }, fnRedo = [&view] { view.OnEditRedo(); };
    // Each command's name, what comes before it off the clock, and the command.
    const std::tuple<const char*, std::function<void()>, std::function<void()>> aCommands[] = {
        {"crop", DrawCrop, Crop}, {"crop", DrawCrop, Crop}, {"undo", nullptr, fnUndo},
        {"undo", nullptr, fnUndo}, {"redo", nullptr, fnRedo}, {"redo", nullptr, fnRedo}};
    constexpr int kCommands = int(std::size(aCommands));
    double adClock[kCommands], adCpu[kCommands];
    int anSpilled[kCommands] = {};
    std::fill(adClock, adClock + kCommands, 1e30);
    std::fill(adCpu, adCpu + kCommands, 1e30);
    for (int nRound = 0; nRound < 3; ++nRound) {
        auto pMap = std::make_unique<CDIBWorld>();
        {
            CHeadlessPlatform headless;
            headless.SetQuiet(true);
            CScopedPlatform installed(headless);
            pMap->CreateImage(24, const_cast<CDIBWorld*>(&scan), true, true, true, false, false);
        }
        undo.Clear();
        document.SetImage(std::move(pMap));
        view.OnUpdate();
        QApplication::processEvents();
        for (int i = 0; i < kCommands; ++i) {
            const auto& [pName, fnBefore, fnCommand] = aCommands[i];
            if (fnBefore)
                fnBefore();
            double dCpu = 0;
            const double dClock = 1000 * Seconds([&] { dCpu = bench::CpuSeconds(fnCommand, 1); }, 1);
            adClock[i] = std::min(adClock[i], dClock);
            adCpu[i] = std::min(adCpu[i], 1000 * dCpu);
            anSpilled[i] = undo.SpilledPictures();
            QApplication::processEvents();
        }
    }
    undo.Clear();
    std::printf("  undo memory %d MB, ms (processor ms) [pictures in temporary files after]:\n   ", nBudgetMB);
    for (int i = 0; i < kCommands; ++i)
        std::printf(" %s %.0f (%.0f) [%d]", std::get<0>(aCommands[i]), adClock[i], adCpu[i], anSpilled[i]);
    std::printf("\n");
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
        pScan->SetEdges({500000, 6008999, 511999, 6000000});
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
    if (argc > 2 && std::strcmp(argv[2], "undo") == 0) {
        BenchSpillFormats(*pScan, "tiled sample with scanner noise");
        {
            CDIBImage tile;
            CHeadlessPlatform headless;
            headless.SetQuiet(true);
            CScopedPlatform installed(headless);
            CDIBWorld clean;
            if (tile.OpenDIB(argv[1])) {
                bench::MakeTiledScan(tile, 12000, 9000, clean);
                BenchSpillFormats(clean, "tiled sample, no noise");
            }
        }
        std::printf("12000 x 9000 24-bit crops with their undo and redo (the view's commands):\n");
        for (int nBudgetMB : {1024, 400})
            BenchCropUndo(*pView, document, *pScan, nBudgetMB);
        return 0;
    }

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
