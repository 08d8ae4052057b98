#pragma once

class QLineEdit;

namespace gridmorph {

// The check every dialog with four map edges makes at OK: East must lie east of West and
// North north of South. On failure it says so and puts the focus into the field the
// dialog names for that pair; the dialogs differ in which one of each pair that is.
bool CheckEdgeOrder(double dWest, double dSouth, double dEast, double dNorth, QLineEdit* pEastWestField,
                    QLineEdit* pNorthSouthField);

}  // namespace gridmorph
