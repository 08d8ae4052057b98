// The document: opening, building, saving and discarding maps, and when the user is
// asked about unsaved work.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <filesystem>
#include <optional>

#include "document/MapDocument.h"
#include "errors/ErrorText.h"
#include "support/FixtureFiles.h"
#include "support/TestSupport.h"

namespace gridmorph {
namespace {

using test::CPlatformTest;
using test::CTempFolder;

const std::string kTransformedQuestion = "Do you wish to save the transformed map?";
const std::string kModifiedQuestion = "Do you wish to save the modified map?";
const std::string k24BitAdvice =
    "This image is 24-bit full colour and conversion to 8-bit, 256 colours\n"
    "is recommended for use as a background map (Options menu).";
const std::string k32BitAdvice =
    "This image is 32-bit colour, probably containing an alpha channel.\n\n"
    "Please reduce it to 8-bit or 24-bit colour (Options menu).\n\n"
    "8-bit, 256 colours are recommended for use as a background map.";

// Records what the document asks of its window.
class CRecordingHost : public CDocumentHost {
public:
    void SetTitle(const std::string& strTitle) override { aTitles.push_back(strTitle); }
    void SetPathName(const std::string& strPath, bool bAddToRecent) override
    {
        if (bAddToRecent)
            aRecent.push_back(strPath);
    }
    void UpdateAllViews() override { ++nViewUpdates; }
    void ResetLocators() override { ++nLocatorResets; }
    bool RunNewMapDialog(SNewMapRequest& request) override
    {
        ++nNewMapDialogs;
        if (!newMapAnswer)
            return false;
        request = *newMapAnswer;
        return true;
    }
    void RunCreateWorldFileDialog(const std::string& strImageFile, CDIBWorld* pImage) override
    {
        aWorldFileDialogs.emplace_back(strImageFile, pImage);
    }

    std::vector<std::string> aTitles;
    std::vector<std::string> aRecent;
    int nViewUpdates = 0;
    int nLocatorResets = 0;
    int nNewMapDialogs = 0;
    std::optional<SNewMapRequest> newMapAnswer;
    std::vector<std::pair<std::string, CDIBWorld*>> aWorldFileDialogs;
};

class MapDocumentTest : public CPlatformTest {
protected:
    MapDocumentTest() { EXPECT_TRUE(m_document.OnNewDocument()); }

    // A georeferenced map of the given depth saved as a file with its world file.
    std::string WriteMap(const std::string& strName, int nBitCount, int nWidth = 12, int nHeight = 8)
    {
        CDIBWorld map;
        test::MakePatternPicture(map, nBitCount, nWidth, nHeight);
        map.SetEdges({1000.0, 2070.0, 1110.0, 2000.0});
        const std::string strPath = m_folder.Path(strName);
        map.SaveWorld(strPath);
        EXPECT_EQ(map.m_nErrorNumber, 0) << strName;
        return strPath;
    }
    // Opens an 8-bit map (no depth message) and forgets what that recorded.
    void OpenQuietly(const std::string& strPath)
    {
        ASSERT_TRUE(m_document.OnOpenDocument(strPath));
        m_platform.ClearRecord();
    }
    // A transformed map made from the current one, shown or not.
    void AddTransformedMap(bool bShow)
    {
        auto pMap = std::make_unique<CDIBWorld>();
        test::MakePatternPicture(*pMap, 8, 9, 7);
        pMap->SetEdges({5000.0, 6060.0, 5080.0, 6000.0});
        m_document.SetTransformedMap(std::move(pMap));
        m_document.SetTransformedModified(true);
        m_document.SetShowTransformed(bShow);
    }
    void ScriptSaveDialog(const std::string& strPath)
    {
        m_platform.AnswerNextFileDialog({true, strPath, 0});
    }

    CTempFolder m_folder;
    CRecordingHost m_host;
    CMapDocument m_document{m_host};
};

TEST_F(MapDocumentTest, TheFirstNewIsEmptyWithoutADialogAndEveryLaterOneAsks)
{
    EXPECT_EQ(m_host.nNewMapDialogs, 0);
    EXPECT_EQ(m_document.GetImage(), nullptr);
    EXPECT_FALSE(m_document.IsModified());
    // The dialog cancelled: nothing is built and nothing is said.
    EXPECT_FALSE(m_document.OnNewDocument());
    EXPECT_EQ(m_host.nNewMapDialogs, 1);
    // A dialog that gives no based-on image counts as cancelled too.
    m_host.newMapAnswer = SNewMapRequest{m_folder.Path("new.bmp"), {},
        {.dWest = 0, .dNorth = 1, .dEast = 1, .dSouth = 0}};
    EXPECT_FALSE(m_document.OnNewDocument());
    EXPECT_EQ(m_host.nNewMapDialogs, 2);
    EXPECT_TRUE(m_platform.Messages().empty());
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("new.bmp")));
}

TEST_F(MapDocumentTest, NewBuildsSavesAndNamesTheMap)
{
    const std::string strBasedOn = WriteMap("basis.bmp", 8);
    const std::string strNew = m_folder.Path("Area/../Fresh.bmp");
    std::filesystem::create_directory(m_folder.Path("Area"));
    m_host.newMapAnswer = SNewMapRequest{strNew, {strBasedOn},
        {.dWest = 1000.0, .dNorth = 2030.0, .dEast = 1050.0, .dSouth = 2000.0}};
    ASSERT_TRUE(m_document.OnNewDocument());
    ASSERT_NE(m_document.GetImage(), nullptr);
    EXPECT_EQ(m_document.GetImage()->m_nImageWidth, 6);
    EXPECT_EQ(m_document.GetImage()->m_nImageHeight, 4);
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("Fresh.bmp")));
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("Fresh.BPW")));
    // The path keeps its letter case; the title is the upper-cased file name.
    EXPECT_EQ(m_document.GetFilePath(), strNew);
    EXPECT_EQ(m_document.GetFileTitle(), "FRESH.BMP");
    EXPECT_EQ(m_host.aRecent, std::vector<std::string>{strNew});
    EXPECT_FALSE(m_document.IsModified());
    // Only the progress of the copy was shown.
    EXPECT_TRUE(m_platform.Messages().empty());

    // A based-on image without a georeference: its message, and an empty document.
    CDIBImage plain;
    test::MakePatternPicture(plain, 8, 4, 4);
    plain.SaveDIB(m_folder.Path("plain.bmp"));
    m_host.newMapAnswer = SNewMapRequest{m_folder.Path("other.bmp"), {m_folder.Path("plain.bmp")},
        {.dWest = 0, .dNorth = 1, .dEast = 1, .dSouth = 0}};
    EXPECT_FALSE(m_document.OnNewDocument());
    EXPECT_EQ(MessageTexts(), std::vector<std::string>{GetErrorText(ERR_NO_WORLD_INFORMATION)});
    EXPECT_EQ(m_document.GetImage(), nullptr);
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("other.bmp")));
}

TEST_F(MapDocumentTest, OpenSaysWhatEachDepthNeedsAndRefusesOthers)
{
    struct SCase {
        int nBitCount;
        std::string strMessage;  // "" for none
        bool bOpens;
    };
    const SCase aCases[] = {
        {8, "", true},
        {24, k24BitAdvice, true},
        {32, k32BitAdvice, true},
        {16,
         "Only 8-bit, 24-bit or 32-bit colour images can be opened in Gridmorph.\n"
         "Please convert the image to 8-bit, or 24-bit colour before use.\n\n"
         "This image is 16-bit.",
         false},
    };
    const std::string strEight = WriteMap("Eight.bmp", 8);
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.nBitCount);
        // Another map is open before: a refused open leaves the document empty all the same.
        OpenQuietly(strEight);
        std::string strPath = m_folder.Path("Depth" + std::to_string(aCase.nBitCount) + ".bmp");
        if (aCase.nBitCount == 16) {
            test::SBmpSpec bmp;
            bmp.nWidth = 2;
            bmp.nHeight = 2;
            bmp.nBitCount = 16;
            bmp.aPixels.assign(8, 0x1F);
            test::WriteBytes(strPath, test::BuildBmp(bmp));
        } else {
            strPath = WriteMap("Depth" + std::to_string(aCase.nBitCount) + ".bmp", aCase.nBitCount);
        }
        EXPECT_EQ(m_document.OnOpenDocument(strPath), aCase.bOpens);
        std::vector<CScriptedPlatform::SMessage> aExpected;
        if (!aCase.strMessage.empty())
            aExpected.push_back({aCase.strMessage, EMessageKind::Information});
        EXPECT_EQ(m_platform.Messages(), aExpected);
        if (aCase.bOpens) {
            ASSERT_NE(m_document.GetImage(), nullptr);
            EXPECT_EQ(m_document.GetImage()->m_nBitCount, aCase.nBitCount);
            EXPECT_EQ(m_document.GetFilePath(), strPath);
            EXPECT_EQ(m_document.GetFileTitle(), "DEPTH" + std::to_string(aCase.nBitCount) + ".BMP");
            EXPECT_EQ(m_host.GetOpenFilterIndex(), m_document.GetImage()->m_nFilterIndex);
        } else {
            EXPECT_EQ(m_document.GetImage(), nullptr);
        }
    }
}

TEST_F(MapDocumentTest, AFailedOpenShowsWhyAndLeavesTheDocumentEmpty)
{
    OpenQuietly(WriteMap("first.bmp", 8));
    EXPECT_FALSE(m_document.OnOpenDocument(""));  // nothing named: nothing closed
    EXPECT_NE(m_document.GetImage(), nullptr);
    const std::string strMissing = m_folder.Path("missing.png");
    EXPECT_FALSE(m_document.OnOpenDocument(strMissing));
    // The reader's detail where it failed, then the document's box with the whole message.
    ASSERT_EQ(m_platform.Messages().size(), 2u);
    const auto& box = m_platform.Messages().back();
    EXPECT_EQ(box.eKind, EMessageKind::Warning);
    // A missing file is said to be missing, not to be too large to load.
    EXPECT_EQ(box.strText, "The file " + strMissing + " does not exist.");
    EXPECT_EQ(m_document.GetImage(), nullptr);
    EXPECT_GE(m_host.nLocatorResets, 1);
}

// Every answer to the two prompts, as the close step meets them.
TEST_F(MapDocumentTest, SavePromptsAndEveryAnswer)
{
    struct SCase {
        const char* pName;
        bool bTransformedModified;
        bool bModified;
        std::vector<EAnswer> aAnswers;
        std::vector<std::string> aSaveDialogPaths;  // "" answers the dialog with Cancel
        bool bCloses;
        std::vector<std::string> aQuestions;
        bool bTransformedFlagAfter;
        bool bModifiedFlagAfter;  // when the document was not closed
        std::vector<std::string> aFilesWritten;
    };
    const SCase aCases[] = {
        {"transformed: Cancel keeps both maps", true, false, {EAnswer::Cancel}, {}, false,
         {kTransformedQuestion}, true, false, {}},
        {"transformed: No forgets its changes", true, false, {EAnswer::No}, {}, true, {kTransformedQuestion}, false,
         false, {}},
        {"transformed: Yes saves it", true, false, {EAnswer::Yes}, {"rectified.png"}, true, {kTransformedQuestion},
         false, false, {"rectified.png", "rectified.PGW"}},
        {"transformed: Yes then a cancelled dialog keeps it", true, false, {EAnswer::Yes}, {""}, false,
         {kTransformedQuestion}, true, false, {}},
        {"modified: Cancel", false, true, {EAnswer::Cancel}, {}, false, {kModifiedQuestion}, false, true, {}},
        {"modified: No closes without saving", false, true, {EAnswer::No}, {}, true, {kModifiedQuestion}, false,
         true, {}},
        {"modified: Yes saves as", false, true, {EAnswer::Yes}, {"saved.bmp"}, true, {kModifiedQuestion}, false,
         false, {"saved.bmp", "saved.BPW"}},
        {"modified: Yes then a cancelled dialog keeps it", false, true, {EAnswer::Yes}, {""}, false,
         {kModifiedQuestion}, false, true, {}},
        {"both: No, then Cancel keeps the current map", true, true, {EAnswer::No, EAnswer::Cancel}, {}, false,
         {kTransformedQuestion, kModifiedQuestion}, false, true, {}},
        {"both: Yes and Yes save both", true, true, {EAnswer::Yes, EAnswer::Yes}, {"t.png", "m.bmp"}, true,
         {kTransformedQuestion, kModifiedQuestion}, false, false, {"t.png", "t.PGW", "m.bmp", "m.BPW"}},
        {"nothing unsaved: no question", false, false, {}, {}, true, {}, false, false, {}},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        CTempFolder folder;
        CDIBWorld source;
        test::MakePatternPicture(source, 8, 12, 8);
        source.SetEdges({1000.0, 2070.0, 1110.0, 2000.0});
        source.SaveWorld(folder.Path("source.bmp"));
        OpenQuietly(folder.Path("source.bmp"));
        if (aCase.bTransformedModified)
            AddTransformedMap(false);
        m_document.SetModifiedFlag(aCase.bModified);
        for (EAnswer eAnswer : aCase.aAnswers)
            m_platform.AnswerNextQuestion(eAnswer);
        for (const std::string& strName : aCase.aSaveDialogPaths)
            m_platform.AnswerNextFileDialog({!strName.empty(), strName.empty() ? "" : folder.Path(strName), 0});

        m_document.OnFileClose();

        std::vector<std::string> aQuestions;
        for (const auto& message : m_platform.Messages()) {
            EXPECT_EQ(message.eKind, EMessageKind::QuestionYesNoCancel);
            aQuestions.push_back(message.strText);
        }
        EXPECT_EQ(aQuestions, aCase.aQuestions);
        EXPECT_EQ(m_document.GetImage() == nullptr, aCase.bCloses);
        if (!aCase.bCloses) {
            EXPECT_EQ(m_document.IsTransformedModified(), aCase.bTransformedFlagAfter);
            EXPECT_EQ(m_document.GetTransformedMap() != nullptr, aCase.bTransformedModified);
            EXPECT_EQ(m_document.IsModified(), aCase.bModifiedFlagAfter);
        }
        for (const std::string& strName : aCase.aFilesWritten)
            EXPECT_TRUE(std::filesystem::exists(folder.Path(strName))) << strName;
        // source, its world file, and what the case wrote: nothing else.
        std::size_t nFiles = 0;
        for ([[maybe_unused]] const auto& entry : std::filesystem::directory_iterator(folder.Root()))
            ++nFiles;
        EXPECT_EQ(nFiles, 2 + aCase.aFilesWritten.size());
        // The next case starts from an empty, saved document.
        m_document.SetModifiedFlag(false);
        m_document.SetTransformedModified(false);
        m_document.OnFileClose();
        m_platform.ClearRecord();
    }
}

TEST_F(MapDocumentTest, NoToTheModifiedMapAsksAgainNextTime)
{
    OpenQuietly(WriteMap("map.bmp", 8));
    m_document.SetModifiedFlag(true);
    m_platform.AnswerNextQuestion(EAnswer::No);
    EXPECT_TRUE(m_document.SaveModified());
    EXPECT_TRUE(m_document.IsModified());
    m_platform.AnswerNextQuestion(EAnswer::Cancel);
    EXPECT_FALSE(m_document.SaveModified());
    EXPECT_EQ(MessageTexts(), (std::vector<std::string>{kModifiedQuestion, kModifiedQuestion}));
}

TEST_F(MapDocumentTest, ACancelledPromptKeepsTheMapWhenAnotherIsOpened)
{
    const std::string strFirst = WriteMap("first.bmp", 8);
    OpenQuietly(strFirst);
    CDIBWorld* pFirst = m_document.GetImage();
    m_document.SetModifiedFlag(true);
    m_platform.AnswerNextQuestion(EAnswer::Cancel);
    EXPECT_FALSE(m_document.OnOpenDocument(WriteMap("second.bmp", 8)));
    EXPECT_EQ(m_document.GetImage(), pFirst);
    EXPECT_EQ(m_document.GetFileTitle(), "FIRST.BMP");
    EXPECT_TRUE(m_document.IsModified());
    m_host.newMapAnswer = SNewMapRequest{m_folder.Path("new.bmp"), {strFirst},
        {.dWest = 1000, .dNorth = 2010, .dEast = 1010, .dSouth = 2000}};
    m_platform.AnswerNextQuestion(EAnswer::Cancel);
    EXPECT_FALSE(m_document.OnNewDocument());
    EXPECT_EQ(m_host.nNewMapDialogs, 0);
    EXPECT_EQ(m_document.GetImage(), pFirst);
}

TEST_F(MapDocumentTest, SaveAsNamesTheDocumentOnlyWhenTheFileWasWritten)
{
    OpenQuietly(WriteMap("map.bmp", 8));
    m_document.SetModifiedFlag(true);

    // A folder that does not exist: the save fails, and the document keeps its name.
    ScriptSaveDialog(m_folder.Path("no/such/folder/lost.bmp"));
    EXPECT_FALSE(m_document.OnFileSaveAs());
    ASSERT_EQ(m_platform.Messages().size(), 2u);  // the writer's detail, then the document's box
    EXPECT_EQ(m_platform.Messages()[1].eKind, EMessageKind::Warning);
    EXPECT_EQ(m_platform.Messages()[1].strText.rfind(GetErrorText(ERR_SAVE_FAILED), 0), 0u);
    EXPECT_EQ(m_document.GetFileTitle(), "MAP.BMP");
    EXPECT_EQ(m_document.GetFilePath(), m_folder.Path("map.bmp"));
    EXPECT_TRUE(m_document.IsModified());

    // Written: the new name, in the case given, and a title in capitals.
    m_platform.ClearRecord();
    ScriptSaveDialog(m_folder.Path("Renamed.bmp"));
    EXPECT_TRUE(m_document.OnFileSaveAs());
    EXPECT_TRUE(m_platform.Messages().empty());
    EXPECT_EQ(m_document.GetFilePath(), m_folder.Path("Renamed.bmp"));
    EXPECT_EQ(m_document.GetFileTitle(), "RENAMED.BMP");
    EXPECT_EQ(m_host.aTitles.back(), "RENAMED.BMP");
    EXPECT_FALSE(m_document.IsModified());
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("Renamed.BPW")));

    // Save writes to the document's own path.
    m_document.SetModifiedFlag(true);
    std::filesystem::remove(m_folder.Path("Renamed.bmp"));
    m_document.OnFileSave();
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("Renamed.bmp")));
    EXPECT_FALSE(m_document.IsModified());
    EXPECT_EQ(m_platform.UnusedScript(), 0u);
}

// Save of a map whose file may not be written asks for a name, as Save As does, instead
// of only refusing; the read-only file is left as it was.
TEST_F(MapDocumentTest, SaveOfAReadOnlyFileAsksForAnotherName)
{
    const std::string strLocked = WriteMap("locked.bmp", 8);
    OpenQuietly(strLocked);
    chmod(strLocked.c_str(), 0444);
    const auto nLockedSize = std::filesystem::file_size(strLocked);
    m_document.SetModifiedFlag(true);

    ScriptSaveDialog(m_folder.Path("copy.bmp"));
    m_document.OnFileSave();
    EXPECT_EQ(m_platform.UnusedScript(), 0u);  // the save dialog was shown
    EXPECT_TRUE(m_platform.Messages().empty());
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("copy.bmp")));
    EXPECT_TRUE(std::filesystem::exists(m_folder.Path("copy.BPW")));
    EXPECT_EQ(m_document.GetFilePath(), m_folder.Path("copy.bmp"));
    EXPECT_FALSE(m_document.IsModified());
    EXPECT_EQ(std::filesystem::file_size(strLocked), nLockedSize);
    EXPECT_EQ(std::filesystem::status(strLocked).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::group_read |
                  std::filesystem::perms::others_read);

    // A writable file is saved in place, without a dialog.
    m_document.SetModifiedFlag(true);
    m_document.OnFileSave();
    EXPECT_EQ(m_platform.UnusedScript(), 0u);
    EXPECT_FALSE(m_document.IsModified());
}

// A format that does not take the map's depth writes nothing: that is no save, so
// nothing is marked saved and the prompt that asked keeps the map.
TEST_F(MapDocumentTest, ARefusedDepthIsNotASave)
{
    OpenQuietly(WriteMap("colour.bmp", 24));
    m_platform.ClearRecord();
    m_document.SetModifiedFlag(true);
    m_platform.AnswerNextQuestion(EAnswer::Yes);
    ScriptSaveDialog(m_folder.Path("colour.gif"));
    m_document.OnFileClose();
    EXPECT_NE(m_document.GetImage(), nullptr);
    EXPECT_TRUE(m_document.IsModified());
    EXPECT_EQ(m_document.GetFileTitle(), "COLOUR.BMP");
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("colour.gif")));
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("colour.GFW")));
    ASSERT_GE(m_platform.Messages().size(), 2u);
    EXPECT_EQ(m_platform.Messages()[0].strText, kModifiedQuestion);
    EXPECT_NE(m_platform.Messages()[1].strText.find("GIF file format must be 8-bit, 256 colour"), std::string::npos);
}

TEST_F(MapDocumentTest, SaveDialogsOpenBesideTheScanAndSuggestNameRectifiedForTheTransformedMap)
{
    OpenQuietly(WriteMap("scan.bmp", 8));
    AddTransformedMap(true);
    ScriptSaveDialog(m_folder.Path("north-up.png"));
    ASSERT_TRUE(m_document.OnFileSaveTransformedAs());
    ASSERT_FALSE(m_platform.FileDialogRequests().empty());
    const SFileDialogRequest transformed = m_platform.FileDialogRequests().back();
    EXPECT_EQ(transformed.strInitialFolder, m_folder.Path("scan.bmp").substr(0, m_folder.Path("scan.bmp").size() - 8));
    EXPECT_EQ(transformed.strInitialName, "scan-rectified");

    // Save As of the scan: its folder, and no name of ours in the box.
    m_document.SetShowTransformed(false);
    ScriptSaveDialog(m_folder.Path("copy.bmp"));
    ASSERT_TRUE(m_document.OnFileSaveAs());
    const SFileDialogRequest& scan = m_platform.FileDialogRequests().back();
    EXPECT_EQ(scan.strInitialFolder, transformed.strInitialFolder);
    EXPECT_EQ(scan.strInitialName, "");
}

TEST_F(MapDocumentTest, SaveTransformedMapAsLeavesTheDocumentsNameAlone)
{
    OpenQuietly(WriteMap("scan.bmp", 8));
    AddTransformedMap(true);
    const std::size_t nTitles = m_host.aTitles.size();
    ScriptSaveDialog(m_folder.Path("north-up.png"));
    EXPECT_TRUE(m_document.OnFileSaveTransformedAs());
    EXPECT_FALSE(m_document.IsTransformedModified());
    EXPECT_EQ(m_document.GetFileTitle(), "SCAN.BMP");
    EXPECT_EQ(m_host.aTitles.size(), nTitles);
    CDIBWorld saved;
    ASSERT_TRUE(saved.OpenWorld(m_folder.Path("north-up.png"), true));
    EXPECT_EQ(saved.GetWestCm(), 500000);
    EXPECT_EQ(saved.GetNorthCm(), 606000);

    // A failed write keeps the flag.
    m_document.SetTransformedModified(true);
    m_platform.ClearRecord();
    ScriptSaveDialog(m_folder.Path("missing-folder/north-up.png"));
    EXPECT_FALSE(m_document.OnFileSaveTransformedAs());
    EXPECT_TRUE(m_document.IsTransformedModified());
    EXPECT_FALSE(m_platform.Messages().empty());
}

TEST_F(MapDocumentTest, SaveTransformedMapAsNeverReplacesTheOpenMapOrItsWorldFile)
{
    OpenQuietly(WriteMap("scan.bmp", 8));
    const std::vector<std::uint8_t> aPicture = test::ReadBytes(m_folder.Path("scan.bmp"));
    const std::vector<std::uint8_t> aWorld = test::ReadBytes(m_folder.Path("scan.BPW"));
    AddTransformedMap(true);
    // The same picture, and another spelling whose world file is the scan's.
    for (const char* pName : {"scan.bmp", "SCAN.BMP", "Scan.bmp"}) {
        SCOPED_TRACE(pName);
        m_platform.ClearRecord();
        ScriptSaveDialog(m_folder.Path(pName));
        EXPECT_FALSE(m_document.OnFileSaveTransformedAs());
        EXPECT_TRUE(m_document.IsTransformedModified());
        ASSERT_EQ(m_platform.Messages().size(), 1u);
        const std::string& strText = m_platform.Messages()[0].strText;
        EXPECT_NE(strText.find("The transformed map cannot be saved as " + m_folder.Path(pName)), std::string::npos)
            << strText;
        EXPECT_NE(strText.find("is the same file as the open map"), std::string::npos) << strText;
        EXPECT_EQ(test::ReadBytes(m_folder.Path("scan.bmp")), aPicture);
        EXPECT_EQ(test::ReadBytes(m_folder.Path("scan.BPW")), aWorld);
    }
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("SCAN.BMP")));
}

TEST_F(MapDocumentTest, TheFileCommandsEnableRules)
{
    enum EState { Empty, Open, OpenModified, TransformedHidden, TransformedShown, PlainPicture };
    struct SCase {
        EState eState;
        bool bClose, bSave, bSaveAs, bSaveTransformedAs, bCreateWorldFile;
    };
    const SCase aCases[] = {
        {Empty, false, false, false, false, false},
        {Open, true, false, true, false, true},
        {OpenModified, true, true, true, false, true},
        {TransformedHidden, true, true, true, false, true},
        {TransformedShown, true, false, false, true, false},
        {PlainPicture, true, false, true, false, false},
    };
    const std::string strMap = WriteMap("map.bmp", 8);
    CDIBImage plain;
    test::MakePatternPicture(plain, 8, 3, 3);
    plain.SaveDIB(m_folder.Path("plain.bmp"));
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(static_cast<int>(aCase.eState));
        m_document.SetModifiedFlag(false);
        m_document.SetTransformedModified(false);
        m_document.OnFileClose();
        if (aCase.eState == PlainPicture)
            OpenQuietly(m_folder.Path("plain.bmp"));
        else if (aCase.eState != Empty)
            OpenQuietly(strMap);
        if (aCase.eState == OpenModified || aCase.eState == TransformedHidden || aCase.eState == TransformedShown)
            m_document.SetModifiedFlag(true);
        if (aCase.eState == TransformedHidden || aCase.eState == TransformedShown)
            AddTransformedMap(aCase.eState == TransformedShown);
        EXPECT_EQ(m_document.CanClose(), aCase.bClose);
        EXPECT_EQ(m_document.CanSave(), aCase.bSave);
        EXPECT_EQ(m_document.CanSaveAs(), aCase.bSaveAs);
        EXPECT_EQ(m_document.CanSaveTransformedAs(), aCase.bSaveTransformedAs);
        EXPECT_EQ(m_document.CanCreateWorldFile(), aCase.bCreateWorldFile);
    }
    m_document.SetModifiedFlag(false);
    m_document.SetTransformedModified(false);
}

// A change to the shown map marks that map unsaved, the other one not; a map put in its
// place hands back the one it replaces.
TEST_F(MapDocumentTest, TheShownMapsChangeMarksThatMapUnsaved)
{
    for (const bool bShowTransformed : {false, true}) {
        OpenQuietly(WriteMap("shown.tif", 8));
        AddTransformedMap(bShowTransformed);
        m_document.SetModifiedFlag(false);
        m_document.SetTransformedModified(false);
        m_document.MarkShownChanged();
        EXPECT_EQ(m_document.IsModified(), !bShowTransformed) << bShowTransformed;
        EXPECT_EQ(m_document.IsTransformedModified(), bShowTransformed) << bShowTransformed;

        m_document.SetModifiedFlag(false);
        m_document.SetTransformedModified(false);
        const CDIBWorld* pBefore = bShowTransformed ? m_document.GetTransformedMap() : m_document.GetImage();
        auto pNew = std::make_unique<CDIBWorld>();
        test::MakePatternPicture(*pNew, 24, 5, 4);
        const CDIBWorld* pNewMap = pNew.get();
        const std::unique_ptr<CDIBWorld> pReplaced = m_document.ReplaceShownMap(std::move(pNew));
        EXPECT_EQ(pReplaced.get(), pBefore) << bShowTransformed;
        EXPECT_EQ(bShowTransformed ? m_document.GetTransformedMap() : m_document.GetImage(), pNewMap) << bShowTransformed;
        EXPECT_EQ(m_document.IsShowingTransformed(), bShowTransformed);
        EXPECT_EQ(m_document.IsModified(), !bShowTransformed) << bShowTransformed;
        EXPECT_EQ(m_document.IsTransformedModified(), bShowTransformed) << bShowTransformed;
        m_document.SetModifiedFlag(false);
        m_document.SetTransformedModified(false);
    }
}

TEST_F(MapDocumentTest, CreateWorldFileHandsTheMapToItsDialog)
{
    const std::string strMap = WriteMap("Site.bmp", 8);
    OpenQuietly(strMap);
    m_document.OnFileCreateWorldFile();
    ASSERT_EQ(m_host.aWorldFileDialogs.size(), 1u);
    EXPECT_EQ(m_host.aWorldFileDialogs[0].first, strMap);
    EXPECT_EQ(m_host.aWorldFileDialogs[0].second, m_document.GetImage());
}

TEST(MapDocumentTitle, TheFileNamePartUpperCased)
{
    EXPECT_EQ(CMapDocument::TitleFromPath("/home/ann/maps/area.bmp"), "AREA.BMP");
    EXPECT_EQ(CMapDocument::TitleFromPath("relative.tif"), "RELATIVE.TIF");
    EXPECT_EQ(CMapDocument::TitleFromPath("dir.d/Mixed Case.Png"), "MIXED CASE.PNG");
}

}  // namespace
}  // namespace gridmorph
