#include "dialogs/EdgeOrder.h"

#include "platform/Platform.h"
#include "view/FieldExchange.h"

namespace gridmorph {

bool CheckEdgeOrder(double dWest, double dSouth, double dEast, double dNorth, QLineEdit* pEastWestField,
                    QLineEdit* pNorthSouthField)
{
    if (dEast <= dWest) {
        ShowWarning("East must be greater than West");
        FocusField(pEastWestField);
        return false;
    }
    if (dNorth <= dSouth) {
        ShowWarning("North must be greater than South");
        FocusField(pNorthSouthField);
        return false;
    }
    return true;
}

}  // namespace gridmorph
