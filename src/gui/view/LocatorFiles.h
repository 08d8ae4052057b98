#pragma once

#include <QString>
#include <string>

namespace gridmorph {

class COrvexView;

// Action > Load Locators and Save Locators: the three locators with their eastings and
// northings in a .points file, the layout gridmorph-cli's rectify reads (--points) and
// writes (--save-points). Each returns the line for the status bar ("" when nothing was
// done); failures are told in a box.
QString OnActionLoadLocators(COrvexView& view, const std::string& strDocumentPath);
QString OnActionSaveLocators(COrvexView& view, const std::string& strDocumentPath);
// Loading needs the current map shown; saving a set whose eastings and northings were
// set up (in the Transform dialog or from a file).
bool CanLoadLocators(const COrvexView& view);
bool CanSaveLocators(const COrvexView& view);

}  // namespace gridmorph
