#pragma once

#include <QObject>
#include <QString>

#include "document/MapDocument.h"

namespace gridmorph {

class COrvexApp;

// The window's document: the core's CMapDocument, with the window's side of it (the
// title, the recent-file list, the views, the shared filter index, the dialogs) told to
// the application and the frame through signals.
class COrvexR4Doc : public QObject, public CDocumentHost {
    Q_OBJECT
public:
    explicit COrvexR4Doc(COrvexApp& app);
    ~COrvexR4Doc() override;

    CMapDocument& Document() { return m_document; }
    const CMapDocument& Document() const { return m_document; }

    int GetOpenFilterIndex() const override;
    void SetOpenFilterIndex(int nIndex) override;
    void SetTitle(const std::string& strTitle) override;
    void SetPathName(const std::string& strPath, bool bAddToRecent) override;
    void UpdateAllViews() override;
    void ResetLocators() override;
    void MapChanging(const CDIBWorld* pMap) override;
    bool RunNewMapDialog(SNewMapRequest& request) override;
    void RunCreateWorldFileDialog(const std::string& strImageFile, CDIBWorld* pImage) override;
    bool RunCoordinateSystemDialog(std::optional<SCoordinateSystem>& system) override;

    QString Title() const { return m_strTitle; }

signals:
    void TitleChanged(const QString& strTitle);
    void ViewsChanged();
    void LocatorsReset();
    // Emitted before a map is destroyed or replaced; receivers stop reading it at once.
    void MapAboutToChange(const CDIBWorld* pMap);

private:
    COrvexApp& m_app;
    QString m_strTitle;
    CMapDocument m_document;
};

}  // namespace gridmorph
