#include "dialogs/FieldExchange.h"

#include <QLineEdit>
#include <cmath>

#include "platform/Platform.h"

namespace gridmorph {
namespace {

QString LimitText(double dValue) { return QString::number(dValue, 'g', 15); }

}  // namespace

void FocusField(QLineEdit* pField)
{
    pField->setFocus(Qt::OtherFocusReason);
    pField->selectAll();
}

bool ExchangeInt(QLineEdit* pField, int nMin, int nMax, int& nValue)
{
    bool bOk = false;
    const int nRead = pField->text().trimmed().toInt(&bOk);
    if (!bOk) {
        ShowWarning("Please enter an integer.");
        FocusField(pField);
        return false;
    }
    if (nRead < nMin || nRead > nMax) {
        ShowWarning(QStringLiteral("Please enter an integer between %1 and %2.").arg(nMin).arg(nMax).toStdString());
        FocusField(pField);
        return false;
    }
    nValue = nRead;
    return true;
}

bool ExchangeDouble(QLineEdit* pField, double dMin, double dMax, double& dValue)
{
    bool bOk = false;
    // QString::toDouble reads the C locale's form whatever the user's locale is. It also
    // takes "nan", "inf" and "-inf", which are no place on a map: they count as no number,
    // as does a number too large for a double.
    const double dRead = pField->text().trimmed().toDouble(&bOk);
    if (!bOk || !std::isfinite(dRead)) {
        ShowWarning("Please enter a number.");
        FocusField(pField);
        return false;
    }
    if (dRead < dMin || dRead > dMax) {
        ShowWarning(QStringLiteral("Please enter a number between %1 and %2.").arg(LimitText(dMin), LimitText(dMax)).toStdString());
        FocusField(pField);
        return false;
    }
    dValue = dRead;
    return true;
}

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

QString FieldText(int nValue) { return QString::number(nValue); }

QString FieldText(double dValue) { return QString::number(dValue, 'g', 15); }

}  // namespace gridmorph
