#pragma once

namespace gridmorph {

// The three locators: pixel positions (0, 0 at the top-left pixel) on the source map and
// the map positions typed for them, in metres. Locator 1 is the top-left, locator 2 the
// top-right and locator 3 the bottom-right corner of a map-grid rectangle. Locators are
// numbered 0, 1, 2 here (locator 1 is index 0).
class CLocatorSet {
public:
    CLocatorSet() { ResetLocators(); }

    // Every member back to its default.
    void ResetLocators();
    // Locators 1, 2, 3 onto the top-left, top-right and bottom-right pixels; map
    // positions stay. Nothing happens for a picture of no size.
    void MoveLocatorsToCorners(int nImageWidth, int nImageHeight);

    int LocatorX(int i) const { return m_nLocatorX[i]; }
    int LocatorY(int i) const { return m_nLocatorY[i]; }
    double Easting(int i) const { return m_dEasting[i]; }
    double Northing(int i) const { return m_dNorthing[i]; }
    // The three columns and rows at once, for the transform's formulas.
    const int* LocatorXs() const { return m_nLocatorX; }
    const int* LocatorYs() const { return m_nLocatorY; }
    void SetLocator(int i, int x, int y) { m_nLocatorX[i] = x, m_nLocatorY[i] = y; }
    void SetLocatorX(int i, int x) { m_nLocatorX[i] = x; }
    void SetLocatorY(int i, int y) { m_nLocatorY[i] = y; }
    void SetMapPosition(int i, double dEasting, double dNorthing) { m_dEasting[i] = dEasting, m_dNorthing[i] = dNorthing; }
    void SetEasting(int i, double dEasting) { m_dEasting[i] = dEasting; }
    void SetNorthing(int i, double dNorthing) { m_dNorthing[i] = dNorthing; }

    // The three points are not corners of a map-grid rectangle (locator 2 lies on the
    // line from locator 3 through the top-right corner).
    bool NonRectangular() const { return m_bNonRectangular; }
    void SetNonRectangular(bool bNonRectangular) { m_bNonRectangular = bNonRectangular; }
    // The Transform dialog has accepted the locators; a transformed map has been made.
    bool TransformSetUp() const { return m_bTransformSetUp; }
    void SetTransformSetUp(bool bSetUp) { m_bTransformSetUp = bSetUp; }
    bool TransformApplied() const { return m_bTransformApplied; }
    void SetTransformApplied(bool bApplied) { m_bTransformApplied = bApplied; }

private:
    int m_nLocatorX[3];
    int m_nLocatorY[3];
    double m_dEasting[3];
    double m_dNorthing[3];
    bool m_bNonRectangular;
    bool m_bTransformSetUp;
    bool m_bTransformApplied;
};

}  // namespace gridmorph
