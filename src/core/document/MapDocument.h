#pragma once

#include <memory>
#include <string>

#include "world/DIBWorld.h"
#include "world/NewBackgroundMap.h"

namespace gridmorph {

// What the document needs from the window around it: the remembered filter index of the
// image dialogs, the title and path shown by the frame, the recent-file list, the views,
// and the two dialogs that belong to the window. The desktop program implements it over
// Qt; tests implement it to record what the document asked for. The defaults do nothing
// and cancel the dialogs, which is what a document without a window sees.
class CDocumentHost {
public:
    virtual ~CDocumentHost() = default;

    virtual int GetOpenFilterIndex() const { return m_nOpenFilterIndex; }
    virtual void SetOpenFilterIndex(int nIndex) { m_nOpenFilterIndex = nIndex; }
    // The document's title (the upper-cased file name, or "" for none).
    virtual void SetTitle(const std::string& /*strTitle*/) {}
    // The path of the file the document stands for; bAddToRecent puts it first in the
    // recent-file list.
    virtual void SetPathName(const std::string& /*strPath*/, bool /*bAddToRecent*/) {}
    virtual void UpdateAllViews() {}
    virtual void ResetLocators() {}
    // The map is about to be destroyed or replaced: whatever reads it on other threads
    // (the view's reduced copies) must stop first.
    virtual void MapChanging(const CDIBWorld* /*pMap*/) {}
    // The New Background Map dialog; false when it did not end with OK.
    virtual bool RunNewMapDialog(SNewMapRequest& /*request*/) { return false; }
    // The Create World File dialog, which writes the world files itself.
    virtual void RunCreateWorldFileDialog(const std::string& /*strImageFile*/, CDIBWorld* /*pImage*/) {}
    // The Coordinate System dialog, starting from system; false when it did not end
    // with OK, else system is the choice (none: no system).
    virtual bool RunCoordinateSystemDialog(std::optional<SCoordinateSystem>& /*system*/) { return false; }

private:
    int m_nOpenFilterIndex = 0;
};

// The program's one document: the current map and, once a transform has been applied,
// the transformed map made from it, each with its own unsaved flag. It decides how maps
// are opened, built, saved and discarded and when the user is asked about unsaved work.
// It holds no window: boxes and file dialogs go through the installed platform, and the
// rest through its host.
class CMapDocument {
public:
    explicit CMapDocument(CDocumentHost& host);
    ~CMapDocument();
    CMapDocument(const CMapDocument&) = delete;
    CMapDocument& operator=(const CMapDocument&) = delete;

    // The unsaved flag of the current map, and that of the transformed map.
    bool IsModified() const { return m_bModified; }
    void SetModifiedFlag(bool bModified) { m_bModified = bModified; }
    void SetTransformedModified(bool bModified) { m_bTransformedModified = bModified; }
    bool IsTransformedModified() const { return m_bTransformedModified; }

    // The framework's steps.
    void DeleteContents();
    bool OnNewDocument();
    bool OnOpenDocument(const std::string& strPath);
    bool OnSaveDocument(const std::string& strPath);
    // Asks about unsaved work; false when the user chose to keep it (Cancel, or a Yes
    // whose save did not happen), and then nothing may be discarded.
    bool SaveModified();

    // The File commands.
    void OnFileClose();
    void OnFileSave();
    bool OnFileSaveAs();
    bool OnFileSaveTransformedAs();
    void OnFileCreateWorldFile();
    // File > Coordinate System: the host's dialog, and the map takes the choice.
    void OnFileCoordinateSystem();
    // The save dialog; an accessory is shown below its file list where the platform can.
    // The save dialog opens in the open map's folder; strSuggestedName goes in its name box.
    // It offers the remembered type first, or the type of nOfferedIndex (same numbering)
    // when that is not 0; the type chosen is remembered.
    std::string AskSaveFileName(const SFileDialogAccessory* pAccessory = nullptr,
                                const std::string& strSuggestedName = std::string(), int nOfferedIndex = 0);

    // Their enable rules.
    bool CanClose() const { return m_pImage != nullptr; }
    bool CanSave() const { return m_pImage != nullptr && !m_bShowTransformed && IsModified(); }
    bool CanSaveAs() const { return m_pImage != nullptr && !m_bShowTransformed; }
    bool CanSaveTransformedAs() const { return m_pTransformedMap != nullptr && m_bShowTransformed; }
    bool CanCreateWorldFile() const { return !m_bShowTransformed && m_pImage != nullptr && m_pImage->HasWorld(); }

    // The maps. The view replaces them through these (convert, crop, resample); the
    // transformed map exists only while a current map does.
    CDIBWorld* GetImage() const { return m_pImage.get(); }
    CDIBWorld* GetTransformedMap() const { return m_pTransformedMap.get(); }
    void SetImage(std::unique_ptr<CDIBWorld> pImage);
    void SetTransformedMap(std::unique_ptr<CDIBWorld> pTransformedMap);
    // Put another picture in the map's place and hand back the one there was (undo and
    // redo keep it); a null transformed map also stops showing it.
    std::unique_ptr<CDIBWorld> ExchangeImage(std::unique_ptr<CDIBWorld> pImage);
    std::unique_ptr<CDIBWorld> ExchangeTransformedMap(std::unique_ptr<CDIBWorld> pTransformedMap);
    bool IsShowingTransformed() const { return m_bShowTransformed; }
    // The coordinate system of the current map, none without a map. Setting it sets the
    // transformed map's too: its eastings and northings are the scan's. Saves of either
    // map name it (GeoTIFF keys, .prj); it changes no pixel, so no unsaved flag changes.
    std::optional<SCoordinateSystem> GetCoordinateSystem() const;
    bool CanSetCoordinateSystem() const { return m_pImage != nullptr; }
    void SetCoordinateSystem(const std::optional<SCoordinateSystem>& system);
    void SetShowTransformed(bool bShow) { m_bShowTransformed = bShow && m_pTransformedMap != nullptr; }
    // The shown map (the transformed map or the scan) was changed: it is marked unsaved.
    void MarkShownChanged();
    // Puts pMap in place of the shown map, marks it unsaved and hands back the map it replaces.
    std::unique_ptr<CDIBWorld> ReplaceShownMap(std::unique_ptr<CDIBWorld> pMap);

    // The file the current map came from or was last written to, in the user's letter
    // case (on this system another case names another file), and the title shown.
    const std::string& GetFilePath() const { return m_strFilePath; }
    const std::string& GetPathName() const { return m_strPathName; }
    const std::string& GetFileTitle() const { return m_strFileTitle; }

    // The file-name part of a path, upper-cased: how titles show a file.
    static std::string TitleFromPath(const std::string& strPath);

private:
    // Discards both maps after asking; false when the user kept them.
    bool CloseStep();
    void SetPathAndTitle(const std::string& strPath);
    // The type the transformed map's save offers first instead of the remembered one: a
    // lossless one (TIFF, else PNG) while the remembered type is that of the JPEG scan just
    // opened, so a bare name does not write a lossy map; else 0 (the remembered type).
    int LosslessIndexForJpegScan();
    // "Coordinate system: EPSG:32633 (WGS 84 / UTM zone 33N)", or "... none".
    std::string CoordinateSystemLine() const;

    CDocumentHost& m_host;
    bool m_bFirstNew = true;
    std::string m_strFilePath;
    std::unique_ptr<CDIBWorld> m_pImage;
    std::unique_ptr<CDIBWorld> m_pTransformedMap;
    bool m_bTransformedModified = false;
    std::string m_strFileTitle;
    bool m_bShowTransformed = false;
    // The remembered filter index is the open scan's type, set by the open, not one the
    // user chose in a save dialog since.
    bool m_bFilterIndexOfScan = false;
    bool m_bModified = false;
    std::string m_strPathName;
};

}  // namespace gridmorph
