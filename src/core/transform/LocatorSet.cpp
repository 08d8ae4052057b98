#include "transform/LocatorSet.h"

namespace gridmorph {

void CLocatorSet::ResetLocators()
{
    const int aDefaultX[3] = {20, 120, 120};
    const int aDefaultY[3] = {20, 20, 120};
    for (int i = 0; i < 3; ++i) {
        m_nLocatorX[i] = aDefaultX[i];
        m_nLocatorY[i] = aDefaultY[i];
        m_dEasting[i] = 0.0;
        m_dNorthing[i] = 0.0;
    }
    m_bNonRectangular = false;
    m_bTransformSetUp = false;
    m_bTransformApplied = false;
}

void CLocatorSet::MoveLocatorsToCorners(int nImageWidth, int nImageHeight)
{
    if (nImageWidth < 1 || nImageHeight < 1)
        return;
    m_nLocatorX[0] = 0;
    m_nLocatorY[0] = 0;
    m_nLocatorX[1] = nImageWidth - 1;
    m_nLocatorY[1] = 0;
    m_nLocatorX[2] = nImageWidth - 1;
    m_nLocatorY[2] = nImageHeight - 1;
}

}  // namespace gridmorph
