#pragma once

// The rows of a picture over a mapped file (CDIBSection::OverMappedFile), for an encoder
// that takes rows in bands: a band is read in when asked for and its pages go back to the
// system once written (they are read from the file again if ever touched), so a copy of a
// large mapped file never holds it all. A file cut short meanwhile fails the save.
#include <string>

#include "image/DIBSection.h"

namespace gridmorph {

class CMappedPictureRows final : public CRowSupply {
public:
    explicit CMappedPictureRows(const CDIBSection& picture) : m_picture(picture) {}
    void MakeRows(int nFirst, int nCount) const override;
    void ReleaseRows(int nFirst, int nCount) const override;
    void MakeAllRows() const override;
    std::string Problem() const override;

private:
    const CDIBSection& m_picture;
};

}  // namespace gridmorph
