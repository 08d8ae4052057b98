// Accuracy and speed of the grid finder over generated scans whose true crossings are
// known through the distortion.
//
//   bench_grid [--sheets N] [--large] [--no-labels] [--verbose] [--seed S]
//
// For each sheet: the three locators against the true crossings (within 1 pixel), the
// three on one rectangle of the true grid, the labels' coordinates against the truth
// (right, left empty, or wrong), and the finder's time per 100 megapixels.
#include <chrono>
#include <ctime>
#include <cmath>
#include <cstdio>
#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "SyntheticScan.h"
#include "grid/GridFinder.h"
#include "io/Numbers.h"
#include "parallel/Threads.h"
#include "platform/HeadlessPlatform.h"

using namespace gridmorph;

namespace {

struct SOutcome {
    bool bFound = false, bWithin = false, bSameRectangle = false;
    int nLabels = 0;  // 0 none proposed, 1 right, -1 wrong
    double dSeconds = 0, dMegapixels = 0, dWorst = 0;
};

// The true crossing nearest to (x, y): its indices and distance.
double NearestTruth(const synthetic::SScanTruth& truth, double x, double y, int& ni, int& nj)
{
    double dBest = 1e300;
    for (int j = 0; j < truth.nRows; ++j)
        for (int i = 0; i < truth.nColumns; ++i) {
            const double d = std::hypot(truth.CrossX(i, j) - x, truth.CrossY(i, j) - y);
            if (d < dBest)
                dBest = d, ni = i, nj = j;
        }
    return dBest;
}

synthetic::SScanRecipe MakeRecipe(int n, std::mt19937& random, bool bLarge, bool bNoLabels)
{
    std::uniform_real_distribution<double> unit(0.0, 1.0);
    synthetic::SScanRecipe recipe;
    recipe.nSeed = std::uint32_t(1000 + n);
    static const int aSizes[][2] = {{1600, 1200}, {2400, 1800}, {3200, 2400}, {4000, 3000}, {6000, 4500}};
    const auto& size = aSizes[n % 5];
    recipe.nWidth = size[0], recipe.nHeight = size[1];
    if (bLarge && n % 10 == 9)
        recipe.nWidth = 12000, recipe.nHeight = 9000;
    recipe.dSpacing = std::min(recipe.nWidth, recipe.nHeight) * (0.1 + 0.12 * unit(random));
    recipe.dRotationDegrees = (unit(random) * 2 - 1) * 15;
    recipe.dShear = (unit(random) * 2 - 1) * 0.02;
    recipe.dStretchX = 1 + (unit(random) * 2 - 1) * 0.02;
    recipe.dStretchY = 1 + (unit(random) * 2 - 1) * 0.02;
    recipe.dLineWidth = 1.5 + 3 * unit(random) * recipe.nWidth / 4000.0 + 0.5;
    recipe.dLineDarkness = n % 7 == 3 ? 0.35 : 0.6 + 0.35 * unit(random);
    recipe.bBrokenLines = n % 6 == 2;
    recipe.bMapContent = n % 9 != 4;
    recipe.bLabels = !bNoLabels && n % 5 != 1;
    recipe.bSplitLabels = n % 4 == 0;
    recipe.dBlurSigma = 0.3 + 1.2 * unit(random);
    recipe.dNoise = 2 + 8 * unit(random);
    recipe.dLighting = n % 3 == 0 ? 0.3 * unit(random) + 0.1 : 0.0;
    recipe.nJpegQuality = n % 2 == 0 ? 60 + int(35 * unit(random)) : 0;
    recipe.nBitCount = n % 4 == 1 ? 8 : n % 4 == 2 ? 0 : 24;
    recipe.dFirstEasting = 300000 + 1000.0 * int(400 * unit(random));
    recipe.dFirstNorthing = 5000000 + 1000.0 * int(900 * unit(random));
    recipe.dGridMetres = n % 3 == 0 ? 1000 : n % 3 == 1 ? 500 : 2000;
    return recipe;
}

}  // namespace

int main(int argc, char** argv)
{
    CHeadlessPlatform platform;
    CScopedPlatform installed(platform);
    int nSheets = 40, nSeed = 7;
    bool bLarge = false, bNoLabels = false, bVerbose = false;
    int nOnly = -1, nRun = 0;
    std::string strSave;
    for (int k = 1; k < argc; ++k) {
        if (!std::strcmp(argv[k], "--sheets") && k + 1 < argc)
            nSheets = std::atoi(argv[++k]);
        else if (!std::strcmp(argv[k], "--seed") && k + 1 < argc)
            nSeed = std::atoi(argv[++k]);
        else if (!std::strcmp(argv[k], "--large"))
            bLarge = true;
        else if (!std::strcmp(argv[k], "--no-labels"))
            bNoLabels = true;
        else if (!std::strcmp(argv[k], "--only") && k + 1 < argc)
            nOnly = std::atoi(argv[++k]);
        else if (!std::strcmp(argv[k], "--save") && k + 1 < argc)
            strSave = argv[++k];
        else if (!std::strcmp(argv[k], "--verbose"))
            bVerbose = true;
    }
    std::mt19937 random{std::uint32_t(nSeed)};
    int nFound = 0, nWithin = 0, nLabelled = 0, nLabelsRight = 0, nLabelsWrong = 0, nLabelsEmpty = 0;
    double dSeconds = 0, dMegapixels = 0, dLargeSeconds = 0, dLargeMegapixels = 0, dFinderSeconds = 0;
    double dLargeFinderSeconds = 0, dFinderProcessorSeconds = 0, dLargeFinderProcessorSeconds = 0;
    for (int n = 0; n < nSheets; ++n) {
        const synthetic::SScanRecipe recipe = MakeRecipe(n, random, bLarge, bNoLabels);
        if (nOnly >= 0 && n != nOnly)
            continue;
        ++nRun;
        CDIBImage picture;
        synthetic::SScanTruth truth;
        std::string strWhy;
        if (!synthetic::MakeScan(recipe, picture, truth, strWhy)) {
            std::printf("sheet %d: %s\n", n, strWhy.c_str());
            return 1;
        }
        if (!strSave.empty())
            picture.SaveDIBSilent(strSave);
        const double dMP0 = double(picture.m_nImageWidth) * picture.m_nImageHeight / 1e6;
        // The finder alone (no labels), then with the labels read.
        auto start = std::chrono::steady_clock::now();
        const std::clock_t nProcessorStart = std::clock();
        const SFoundGrid plain = FindGrid(picture, SFindGridOptions{false});
        const double dFinderTime = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        const double dFinderProcessor = double(std::clock() - nProcessorStart) / CLOCKS_PER_SEC;
        dFinderProcessorSeconds += dFinderProcessor;
        if (dMP0 > 50)
            dLargeFinderProcessorSeconds += dFinderProcessor;
        start = std::chrono::steady_clock::now();
        const SFoundGrid grid = FindGrid(picture);
        const double dTime = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
        dFinderSeconds += dFinderTime;
        if (plain.bFound != grid.bFound)
            std::printf("sheet %d: the finder differs with and without labels\n", n);
        const double dMP = double(picture.m_nImageWidth) * picture.m_nImageHeight / 1e6;
        dSeconds += dTime, dMegapixels += dMP;
        if (dMP > 50)
            dLargeSeconds += dTime, dLargeMegapixels += dMP, dLargeFinderSeconds += dFinderTime;
        SOutcome outcome;
        int aI[3] = {}, aJ[3] = {};
        if (grid.bFound) {
            ++nFound;
            outcome.bWithin = true;
            for (int k = 0; k < 3; ++k) {
                NearestTruth(truth, grid.aLocators[k].dX, grid.aLocators[k].dY, aI[k], aJ[k]);
                const double d = std::hypot(grid.aLocators[k].nX - truth.CrossX(aI[k], aJ[k]),
                                            grid.aLocators[k].nY - truth.CrossY(aI[k], aJ[k]));
                outcome.dWorst = std::max(outcome.dWorst, d);
                outcome.bWithin = outcome.bWithin && d <= 1.0;
            }
            outcome.bSameRectangle = aJ[0] == aJ[1] && aI[1] == aI[2] && aI[0] < aI[1] && aJ[1] < aJ[2];
            outcome.bWithin = outcome.bWithin && outcome.bSameRectangle;
            nWithin += outcome.bWithin;
        }
        if (recipe.bLabels) {
            ++nLabelled;
            if (!grid.bFound || !grid.bLabelsRead) {
                ++nLabelsEmpty;
            } else {
                const bool bRight = outcome.bSameRectangle &&
                                    std::fabs(grid.dEasting[0] - truth.aEastings[std::size_t(aI[0])]) < 0.5 &&
                                    std::fabs(grid.dEasting[1] - truth.aEastings[std::size_t(aI[2])]) < 0.5 &&
                                    std::fabs(grid.dNorthing[0] - truth.aNorthings[std::size_t(aJ[0])]) < 0.5 &&
                                    std::fabs(grid.dNorthing[1] - truth.aNorthings[std::size_t(aJ[2])]) < 0.5;
                (bRight ? nLabelsRight : nLabelsWrong) += 1;
                if (!bRight)
                    std::printf("sheet %d: labels %s,%s %s,%s against the truth %s,%s %s,%s (same rectangle: %d)\n", n,
                                FormatFixed(grid.dEasting[0], 0).c_str(), FormatFixed(grid.dNorthing[0], 0).c_str(),
                                FormatFixed(grid.dEasting[1], 0).c_str(), FormatFixed(grid.dNorthing[1], 0).c_str(),
                                FormatFixed(truth.aEastings[std::size_t(aI[0])], 0).c_str(),
                                FormatFixed(truth.aNorthings[std::size_t(aJ[0])], 0).c_str(),
                                FormatFixed(truth.aEastings[std::size_t(aI[2])], 0).c_str(),
                                FormatFixed(truth.aNorthings[std::size_t(aJ[2])], 0).c_str(), int(outcome.bSameRectangle));
            }
        } else if (grid.bLabelsRead) {
            ++nLabelsWrong;  // coordinates on a sheet without labels
        }
        if (bVerbose || !outcome.bWithin)
            std::printf("sheet %2d %5dx%-5d %2d-bit rot %6s shear %6s spacing %6s dark %4s%s%s%s blur %4s noise %4s jpeg %2d: "
                        "%s worst %s px, %s s%s%s\n",
                        n, recipe.nWidth, recipe.nHeight, recipe.nBitCount, FormatFixed(recipe.dRotationDegrees, 2).c_str(),
                        FormatFixed(recipe.dShear, 3).c_str(), FormatFixed(recipe.dSpacing, 0).c_str(),
                        FormatFixed(recipe.dLineDarkness, 2).c_str(), recipe.bBrokenLines ? " broken" : "",
                        recipe.bMapContent ? " content" : "", recipe.bLabels ? (recipe.bSplitLabels ? " split-labels" : " labels") : "",
                        FormatFixed(recipe.dBlurSigma, 1).c_str(), FormatFixed(recipe.dNoise, 1).c_str(), recipe.nJpegQuality,
                        grid.bFound ? (outcome.bWithin ? "ok" : "OFF") : ("NONE (" + grid.strWhy + ")").c_str(),
                        FormatFixed(outcome.dWorst, 2).c_str(), FormatFixed(dTime, 3).c_str(),
                        grid.bLabelsRead ? " labels read" : "",
                        recipe.bLabels && !grid.bLabelsRead ? (" labels empty: " + grid.strLabelNote).c_str() : "");
    }
    std::printf("\nthreads: %d\n", GetThreadCount());
    std::printf("sheets: %d\n", nRun);
    std::printf("grid_found: %d\n", nFound);
    std::printf("locators_within_1px: %d (%s%%)\n", nWithin, FormatFixed(100.0 * nWithin / std::max(1, nRun), 1).c_str());
    std::printf("labelled_sheets: %d\n", nLabelled);
    std::printf("labels_right: %d (%s%%)\n", nLabelsRight,
                FormatFixed(nLabelled ? 100.0 * nLabelsRight / nLabelled : 0.0, 1).c_str());
    std::printf("labels_left_empty: %d\n", nLabelsEmpty);
    std::printf("labels_wrong_accepted: %d\n", nLabelsWrong);
    std::printf("finder_seconds_per_100MP: %s (grid and crossings, %s MP in %s s)\n",
                FormatFixed(100 * dFinderSeconds / dMegapixels, 3).c_str(), FormatFixed(dMegapixels, 1).c_str(),
                FormatFixed(dFinderSeconds, 2).c_str());
    std::printf("finder_processor_seconds_per_100MP: %s (user + system of both threads)\n",
                FormatFixed(100 * dFinderProcessorSeconds / dMegapixels, 3).c_str());
    std::printf("with_labels_seconds_per_100MP: %s (%s s; the text reader started once)\n",
                FormatFixed(100 * dSeconds / dMegapixels, 3).c_str(), FormatFixed(dSeconds, 2).c_str());
    std::printf("with_labels_seconds_per_sheet: %s\n", FormatFixed(dSeconds / std::max(1, nRun), 3).c_str());
    if (dLargeMegapixels > 0)
        std::printf("finder_seconds_per_100MP_large: %s (processor %s), with labels %s (12000 x 9000 sheets)\n",
                    FormatFixed(100 * dLargeFinderSeconds / dLargeMegapixels, 3).c_str(),
                    FormatFixed(100 * dLargeFinderProcessorSeconds / dLargeMegapixels, 3).c_str(),
                    FormatFixed(100 * dLargeSeconds / dLargeMegapixels, 3).c_str());
    return 0;
}
