#pragma once
// Shared inside core/grid only: the grey reading of a picture and the label reader's
// entry. Nothing outside core/grid includes this header (it brings OpenCV).

#include <cstdint>
#include <string>
#include <vector>

#include <opencv2/core.hpp>

#include "grid/GridFinder.h"

namespace gridmorph::grid {

// Grey values of a picture's pixels by picture row (from the top).
class CGreyReader {
public:
    explicit CGreyReader(const CDIBImage& picture);
    bool Usable() const { return m_bUsable; }
    int Width() const { return m_nWidth; }
    int Height() const { return m_nHeight; }
    // Grey of picture pixel (x, y), which must lie inside the picture.
    int Grey(int x, int y) const
    {
        const std::uint8_t* p = m_pBottom + std::ptrdiff_t(m_nHeight - 1 - y) * m_nStride;
        if (m_nStep == 1)
            return m_aTable[p[x]];
        p += std::ptrdiff_t(x) * m_nStep;
        return (p[2] * 77 + p[1] * 150 + p[0] * 29) >> 8;
    }
    // Grey of picture row y, all of it.
    void GreyRow(int y, std::uint8_t* pOut) const;
    // Says that rows [y0, y1) will not be read again soon: a picture over a mapped file
    // hands their pages back (they are read from the file again if touched), a picture
    // read on demand lets them go.
    void DoneWithRows(int y0, int y1) const;
    // Makes rows [y0, y1) (clipped to the picture) readable: a picture read from its file
    // on demand reads them now. GreyRow and Crop make their own rows; a reader of single
    // pixels (Grey) asks for its rows first. A read failure leaves the rows zero bytes:
    // the picture's supply says why (CRowSupply::Problem) and the work that reads the
    // rows next fails with it.
    void NeedRows(int y0, int y1) const
    {
        if (m_pRows)
            MakeRows(y0, y1);
    }
    // Grey of a rectangle into a CV_8U matrix (the rectangle is clipped to the picture;
    // pixels outside are white).
    cv::Mat Crop(int nLeft, int nTop, int nWidth, int nHeight) const;

private:
    void MakeRows(int y0, int y1) const;

    const CRowSupply* m_pRows = nullptr;  // set for a picture read from its file on demand
    const std::uint8_t* m_pBottom = nullptr;
    std::ptrdiff_t m_nStride = 0;
    int m_nWidth = 0, m_nHeight = 0, m_nStep = 0;
    bool m_bUsable = false;
    std::uint8_t m_aTable[256] = {};
};

// One label read from the frame: the line's index in its family and the value, or nothing.
struct SLabelRead {
    int nLine = 0;
    long long nValue = 0;
    int nConfidence = 0;  // Tesseract's word confidence, 0..100
};

// Reads the digits of a label in a grey picture (dark print on light paper), turned by
// dRotationDegrees (clockwise on the screen). Empty when nothing was read with confidence.
std::string ReadDigits(const cv::Mat& grey, double dRotationDegrees, int* pConfidence);

// Reads the labels at the frame for the found grid's lines and, when they are read with
// confidence and agree, sets the grid's map coordinates of locators 1 and 3.
void ReadFrameLabels(const CGreyReader& reader, SFoundGrid& grid);

}  // namespace gridmorph::grid
