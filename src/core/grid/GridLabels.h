#pragma once

#include <string>
#include <vector>

#include "image/DIBImage.h"

namespace gridmorph {

// One coordinate label read at the frame: the index of its grid line in its family and the
// value printed there (metres).
struct SLabelValue {
    int nLine = 0;
    double dValue = 0.0;
};

// The labels of one family made consistent: value = dFirst + dStep * line. Labels that
// disagree are misreads; too few agreeing labels, or two ways of explaining them, leave
// the family unread.
struct SLabelFit {
    bool bConsistent = false;
    double dFirst = 0.0;
    double dStep = 0.0;
    int nAgreeing = 0;    // lines whose label agrees
    int nRejected = 0;    // lines whose label was rejected
    std::string strWhy;   // why the family was left unread
    int nFirstLine = 0, nLastLine = -1;  // the outermost lines whose label agrees

    double ValueAt(int nLine) const { return dFirst + dStep * nLine; }
    // Whether a line lies between agreeing labels (or has one).
    bool Covers(int nLine) const { return bConsistent && nLine >= nFirstLine && nLine <= nLastLine; }
};

// Eastings grow from west to east (bDescending false); northings fall from north to south
// (bDescending true). The same line may appear twice (top and bottom, or left and right).
SLabelFit FitGridLabels(const std::vector<SLabelValue>& aReads, bool bDescending);

// The digits printed on a picture of one label (dark on light, turned by dRotationDegrees
// clockwise on the screen); empty when they were not read with confidence. pConfidence
// receives the reader's confidence (0..100).
std::string ReadLabelDigits(const CDIBImage& picture, double dRotationDegrees, int* pConfidence = nullptr);

}  // namespace gridmorph
