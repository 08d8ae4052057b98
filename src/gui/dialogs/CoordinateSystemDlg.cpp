#include "dialogs/CoordinateSystemDlg.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <cctype>

#include "platform/Platform.h"

namespace gridmorph {
namespace {

constexpr const char* kProfileSection = "Coordinate Systems";
constexpr int kRecentCount = 8;
constexpr std::size_t kSearchLimit = 300;

std::string Trimmed(const std::string& strText)
{
    const auto itBegin = std::find_if_not(strText.begin(), strText.end(), [](unsigned char c) { return std::isspace(c); });
    const auto itEnd = std::find_if_not(strText.rbegin(), strText.rend(), [](unsigned char c) { return std::isspace(c); }).base();
    return itBegin < itEnd ? std::string(itBegin, itEnd) : std::string();
}

// What the definition is remembered as: "EPSG:n" for a system with a code, else its text.
std::string RememberedDefinition(const SCoordinateSystem& system)
{
    return system.geoSystem.nEpsgCode > 0 ? "EPSG:" + std::to_string(system.geoSystem.nEpsgCode)
                                          : system.strDefinition;
}

}  // namespace

CCoordinateSystemDlg::CCoordinateSystemDlg(const std::optional<SCoordinateSystem>& current, QWidget* pParent)
    : QDialog(pParent), m_result(current)
{
    setObjectName(QStringLiteral("coordinateSystemDialog"));
    setWindowTitle(QStringLiteral("Coordinate System"));

    m_pCurrent = new QLabel(this);
    m_pCurrent->setObjectName(QStringLiteral("currentSystem"));
    m_pCurrent->setWordWrap(true);
    m_pCurrent->setText(QStringLiteral("Current: ") +
                        (current ? QString::fromStdString(DescribeGeoSystem(current->geoSystem)) : QStringLiteral("none")));

    m_pDefinition = new QLineEdit(this);
    m_pDefinition->setObjectName(QStringLiteral("definition"));
    m_pDefinition->setPlaceholderText(QStringLiteral("EPSG:32633, 27700, WKT or +proj=..."));
    if (current)
        m_pDefinition->setText(QString::fromStdString(RememberedDefinition(*current)));
    m_pDefinition->setMinimumWidth(fontMetrics().horizontalAdvance(QLatin1Char('x')) * 60);

    m_pSearch = new QLineEdit(this);
    m_pSearch->setObjectName(QStringLiteral("search"));
    m_pSearch->setPlaceholderText(QStringLiteral("words of the name or the code, e.g. utm 33n"));
    m_pSearch->setClearButtonEnabled(true);
    m_pResults = new QListWidget(this);
    m_pResults->setObjectName(QStringLiteral("results"));
    m_pResults->setMinimumHeight(fontMetrics().height() * 10);
    m_pRecent = new QListWidget(this);
    m_pRecent->setObjectName(QStringLiteral("recent"));
    m_pRecent->setMaximumHeight(fontMetrics().height() * 6);
    for (const SRecent& recent : RecentSystems()) {
        auto* pItem = new QListWidgetItem(QString::fromStdString(recent.strDescription), m_pRecent);
        pItem->setData(Qt::UserRole, QString::fromStdString(recent.strDefinition));
        pItem->setToolTip(QString::fromStdString(recent.strDefinition));
    }

    connect(m_pSearch, &QLineEdit::textChanged, this, &CCoordinateSystemDlg::OnSearch);
    for (QListWidget* pList : {m_pResults, m_pRecent}) {
        connect(pList, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* pItem) {
            if (pItem)
                m_pDefinition->setText(pItem->data(Qt::UserRole).toString());
        });
        connect(pList, &QListWidget::itemDoubleClicked, this, [this](QListWidgetItem* pItem) {
            m_pDefinition->setText(pItem->data(Qt::UserRole).toString());
            accept();
        });
    }

    auto* pForm = new QFormLayout;
    pForm->setFieldGrowthPolicy(QFormLayout::ExpandingFieldsGrow);
    auto* pDefinitionLabel = new QLabel(QStringLiteral("&Definition:"), this);
    pDefinitionLabel->setBuddy(m_pDefinition);
    pForm->addRow(pDefinitionLabel, m_pDefinition);
    auto* pSearchLabel = new QLabel(QStringLiteral("&Search:"), this);
    pSearchLabel->setBuddy(m_pSearch);
    pForm->addRow(pSearchLabel, m_pSearch);
    pForm->addRow(QString(), m_pResults);
    auto* pRecentLabel = new QLabel(QStringLiteral("&Recent:"), this);
    pRecentLabel->setBuddy(m_pRecent);
    pForm->addRow(pRecentLabel, m_pRecent);

    auto* pNote = new QLabel(
        QStringLiteral("The system the map's eastings and northings are in. Saved maps name it in their GeoTIFF keys "
                       "and in a .prj file beside them. Leave the definition empty for none."),
        this);
    pNote->setWordWrap(true);

    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &CCoordinateSystemDlg::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(m_pCurrent);
    pLayout->addLayout(pForm);
    pLayout->addWidget(pNote);
    pLayout->addWidget(pButtons);
    OnSearch(QString());
}

void CCoordinateSystemDlg::OnSearch(const QString& strText)
{
    m_pResults->clear();
    for (const SCoordinateSystemEntry& entry : FindCoordinateSystems(strText.toStdString(), kSearchLimit)) {
        auto* pItem = new QListWidgetItem(QString::fromStdString(entry.strCode + "  " + entry.strName), m_pResults);
        pItem->setData(Qt::UserRole, QString::fromStdString(entry.strCode));
    }
    m_pResults->scrollToTop();
}

bool CCoordinateSystemDlg::CheckDefinition(const std::string& strTyped, std::optional<SCoordinateSystem>& result,
                                           std::string& strRefusal)
{
    const std::string strText = Trimmed(strTyped);
    if (strText.empty()) {
        result.reset();
        return true;
    }
    const bool bCode = strText.size() <= 9 && std::all_of(strText.begin(), strText.end(),
                                                           [](unsigned char c) { return std::isdigit(c) != 0; });
    const std::string strDefinition = bCode ? "EPSG:" + strText : strText;
    SCoordinateSystem system;
    std::string strReason;
    if (!ResolveCoordinateSystem(strDefinition, system, strReason)) {
        // A long WKT is cut in the message; the reason is what matters.
        const std::string strShown = strText.size() > 80 ? strText.substr(0, 77) + "..." : strText;
        strRefusal = "'" + strShown + "' is not a coordinate system for a map:\n\n" + strReason;
        return false;
    }
    result = std::move(system);
    return true;
}

void CCoordinateSystemDlg::accept()
{
    std::optional<SCoordinateSystem> result;
    std::string strRefusal;
    if (!CheckDefinition(m_pDefinition->text().toStdString(), result, strRefusal)) {
        ShowWarning(strRefusal);
        m_pDefinition->setFocus();
        m_pDefinition->selectAll();
        return;
    }
    if (result)
        RememberSystem(*result);
    m_result = std::move(result);
    QDialog::accept();
}

std::vector<CCoordinateSystemDlg::SRecent> CCoordinateSystemDlg::RecentSystems()
{
    CPlatform& platform = GetPlatform();
    std::vector<SRecent> aRecent;
    for (int i = 1; i <= kRecentCount; ++i) {
        SRecent recent;
        recent.strDefinition = platform.GetProfileString(kProfileSection, "Recent" + std::to_string(i), "");
        recent.strDescription = platform.GetProfileString(kProfileSection, "RecentName" + std::to_string(i), "");
        if (recent.strDefinition.empty())
            break;
        if (recent.strDescription.empty())
            recent.strDescription = recent.strDefinition;
        aRecent.push_back(std::move(recent));
    }
    return aRecent;
}

void CCoordinateSystemDlg::RememberSystem(const SCoordinateSystem& system)
{
    std::vector<SRecent> aRecent = RecentSystems();
    SRecent chosen{RememberedDefinition(system), DescribeGeoSystem(system.geoSystem)};
    aRecent.erase(std::remove_if(aRecent.begin(), aRecent.end(),
                                 [&](const SRecent& r) { return r.strDefinition == chosen.strDefinition; }),
                  aRecent.end());
    aRecent.insert(aRecent.begin(), std::move(chosen));
    if (aRecent.size() > static_cast<std::size_t>(kRecentCount))
        aRecent.resize(kRecentCount);
    CPlatform& platform = GetPlatform();
    for (std::size_t i = 0; i < aRecent.size(); ++i) {
        platform.WriteProfileString(kProfileSection, "Recent" + std::to_string(i + 1), aRecent[i].strDefinition);
        platform.WriteProfileString(kProfileSection, "RecentName" + std::to_string(i + 1), aRecent[i].strDescription);
    }
}

}  // namespace gridmorph
