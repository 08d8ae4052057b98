#pragma once

namespace gridmorph {

// The three locators: pixel positions (0, 0 at the top-left pixel) on the source map and
// the map positions typed for them, in metres. Locator 1 is the top-left, locator 2 the
// top-right and locator 3 the bottom-right corner of a map-grid rectangle.
class CLocatorSet {
public:
    CLocatorSet() { ResetLocators(); }

    // Every member back to its default.
    void ResetLocators();
    // Locators 1, 2, 3 onto the top-left, top-right and bottom-right pixels; map
    // positions stay. Nothing happens for a picture of no size.
    void MoveLocatorsToCorners(int nImageWidth, int nImageHeight);

    int m_nLocatorX[3];
    int m_nLocatorY[3];
    double m_dEasting[3];
    double m_dNorthing[3];
    bool m_bNonRectangular;
    bool m_bTransformSetUp;
    bool m_bTransformApplied;
};

}  // namespace gridmorph
