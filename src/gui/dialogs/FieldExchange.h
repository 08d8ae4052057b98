#pragma once

#include <QString>

class QLineEdit;

namespace gridmorph {

// Reading a dialog's number fields as the program's dialogs always have: a text that is
// not a number, or a number outside the field's limits, is refused with the standard
// message naming the limits, and the focus goes to that field (its text selected). A text
// that is not a finite number ("nan", "inf", "-inf", 1e999) is not a number.
// Numbers are read and written without regard to the user's locale: a map position is
// typed with a decimal point.
bool ExchangeInt(QLineEdit* pField, int nMin, int nMax, int& nValue);
bool ExchangeDouble(QLineEdit* pField, double dMin, double dMax, double& dValue);

// A field's text for a value: integers as they are, doubles with up to 15 significant
// digits (512250, 0.5, 6231250.125).
QString FieldText(int nValue);
QString FieldText(double dValue);

// Puts the focus into a field and selects its text.
void FocusField(QLineEdit* pField);

// The order of a map region's edges: "East must be greater than West" (the focus to
// pEastWestField), then "North must be greater than South" (to pNorthSouthField).
bool CheckEdgeOrder(double dWest, double dSouth, double dEast, double dNorth, QLineEdit* pEastWestField,
                    QLineEdit* pNorthSouthField);

}  // namespace gridmorph
