#pragma once

#include <QDialog>
#include <optional>
#include <string>
#include <vector>

#include "world/CoordinateSystem.h"

class QLabel;
class QLineEdit;
class QListWidget;

namespace gridmorph {

// "Coordinate System": the system the map's eastings and northings are in. The user types
// a definition (an EPSG code, "EPSG:32633", WKT or a PROJ string), picks one found in
// PROJ's database by code or name, or one chosen recently; OK resolves it with PROJ and
// refuses, with PROJ's reason in a warning box, what is not a system a map can be laid
// on. An empty definition means no system. Accepted choices head the recent list kept
// in the profile.
class CCoordinateSystemDlg : public QDialog {
    Q_OBJECT
public:
    explicit CCoordinateSystemDlg(const std::optional<SCoordinateSystem>& current, QWidget* pParent = nullptr);

    // Decides what a typed definition gives: true with the system (none for an empty
    // text), or false with the message the user is shown. A number alone is an EPSG code.
    static bool CheckDefinition(const std::string& strTyped, std::optional<SCoordinateSystem>& result,
                                std::string& strRefusal);

    // The recent choices in the profile, newest first: their definitions and descriptions.
    struct SRecent {
        std::string strDefinition;
        std::string strDescription;
    };
    static std::vector<SRecent> RecentSystems();
    static void RememberSystem(const SCoordinateSystem& system);

    QLineEdit* DefinitionField() const { return m_pDefinition; }
    QLineEdit* SearchField() const { return m_pSearch; }
    QListWidget* Results() const { return m_pResults; }
    QListWidget* Recent() const { return m_pRecent; }

    // The system accepted (none: the map has none).
    const std::optional<SCoordinateSystem>& Result() const { return m_result; }

    void accept() override;

private:
    void OnSearch(const QString& strText);

    QLabel* m_pCurrent = nullptr;
    QLineEdit* m_pDefinition = nullptr;
    QLineEdit* m_pSearch = nullptr;
    QListWidget* m_pResults = nullptr;
    QListWidget* m_pRecent = nullptr;
    std::optional<SCoordinateSystem> m_result;
};

}  // namespace gridmorph
