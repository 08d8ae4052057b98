// The window's open and save dialogs as the user meets them: Qt's own file dialog, driven
// through its widgets (the file-type list by keyboard, or opened by mouse and its entry
// chosen in it; the name field; the Save button), with the program's Qt platform and its
// real settings in the run's folder.
// The written file's type is read from its first bytes.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QApplication>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QHeaderView>
#include <QLineEdit>
#include <QLocale>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <filesystem>
#include <optional>
#include <memory>

#include "app/OrvexApp.h"
#include "app/OrvexR4Doc.h"
#include "app/QtPlatform.h"
#include "dialogs/FileDialogLayout.h"
#include "gui/ModalDriver.h"
#include "platform/Platform.h"
#include "support/TestSupport.h"
#include "world/DIBWorld.h"

namespace gridmorph {
namespace {

using test::CTempFolder;
using test::WhenModal;

enum class EPick { Keyboard, Mouse };

QComboBox* TypeList(QFileDialog& dialog) { return dialog.findChild<QComboBox*>(QStringLiteral("fileTypeCombo")); }
QLineEdit* NameField(QFileDialog& dialog) { return dialog.findChild<QLineEdit*>(QStringLiteral("fileNameEdit")); }

QPushButton* AcceptButton(QFileDialog& dialog)
{
    auto* pButtons = dialog.findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
    if (!pButtons)
        return nullptr;
    for (QAbstractButton* pButton : pButtons->buttons())
        if (pButtons->buttonRole(pButton) == QDialogButtonBox::AcceptRole)
            return qobject_cast<QPushButton*>(pButton);
    return nullptr;
}

// The parts of Qt's own save dialog a test types into and clicks; none (and the dialog
// rejected, the test failed) when the dialog is another one.
struct SSaveDialogParts {
    QComboBox* pTypes;
    QLineEdit* pName;
    QPushButton* pSave;
};
std::optional<SSaveDialogParts> SaveDialogParts(QFileDialog& dialog)
{
    const SSaveDialogParts parts{TypeList(dialog), NameField(dialog), AcceptButton(dialog)};
    if (parts.pTypes && parts.pName && parts.pSave)
        return parts;
    ADD_FAILURE() << "not Qt's own file dialog";
    dialog.reject();
    return std::nullopt;
}

int EntryStartingWith(QComboBox& list, const QString& strName)
{
    for (int i = 0; i < list.count(); ++i)
        if (list.itemText(i).startsWith(strName))
            return i;
    return -1;
}

// Chooses an entry of the file-type list as a user does.
void PickType(QComboBox& list, int nEntry, EPick ePick)
{
    if (ePick == EPick::Keyboard) {
        list.setFocus();
        QTest::keyClick(&list, Qt::Key_Home);
        for (int i = 0; i < nEntry; ++i)
            QTest::keyClick(&list, Qt::Key_Down);
    } else {
        // The list opens with a click; the entry is then chosen in the open list through
        // its view, as the keyboard chooses it there. A click at the entry's place is no
        // promise: the list ignores a release that comes as soon as a double click after
        // it opened, by the clock, and a loaded machine can make a fixed wait too short.
        QTest::mouseClick(&list, Qt::LeftButton);
        QAbstractItemView* pView = list.view();
        ASSERT_TRUE(pView->isVisible()) << "the list did not open";
        ASSERT_TRUE(QTest::qWaitForWindowExposed(pView->window())) << "the list was not shown";
        pView->setCurrentIndex(pView->model()->index(nEntry, list.modelColumn()));
        QTest::keyClick(pView, Qt::Key_Return);
        ASSERT_TRUE(QTest::qWaitFor([pView] { return !pView->window()->isVisible(); })) << "the list did not close";
    }
    ASSERT_EQ(list.currentIndex(), nEntry);
}

void TypeName(QLineEdit& field, const QString& strName)
{
    field.setFocus();
    field.selectAll();
    QTest::keyClicks(&field, strName);
}

// What a file's first bytes say it is.
std::string FileKind(const std::string& strPath)
{
    const std::vector<std::uint8_t> aBytes = test::ReadBytes(strPath);
    const auto starts = [&aBytes](std::initializer_list<std::uint8_t> aMagic) {
        return aBytes.size() >= aMagic.size() && std::equal(aMagic.begin(), aMagic.end(), aBytes.begin());
    };
    if (starts({0x89, 'P', 'N', 'G', 0x0d, 0x0a, 0x1a, 0x0a}))
        return "PNG";
    if (starts({'I', 'I', 42, 0}) || starts({'M', 'M', 0, 42}))
        return "TIFF";
    if (starts({'B', 'M'}))
        return "BMP";
    if (starts({0xff, 0xd8}))
        return "JPEG";
    if (starts({'G', 'I', 'F'}))
        return "GIF";
    return "unknown";
}

class QtFileDialogTest : public ::testing::Test {
protected:
    QtFileDialogTest()
    {
        // The settings are the run's own (see GuiTestMain); each test starts from none of
        // the ones it looks at.
        QSettings settings(QStringLiteral("Kelmar Release 4"), QStringLiteral("Gridmorph"));
        settings.remove(QStringLiteral("IMAGELOAD"));
        settings.remove(QStringLiteral("DIALOGSIZE"));
        settings.sync();
        m_pApp = std::make_unique<COrvexApp>();
        EXPECT_TRUE(m_pApp->InitInstance({QStringLiteral("gridmorph")}));
    }
    ~QtFileDialogTest() override
    {
        if (m_pApp && m_pApp->Document()) {
            Document().SetModifiedFlag(false);
            Document().SetTransformedModified(false);
        }
    }
    CMapDocument& Document() { return m_pApp->Document()->Document(); }
    CQtPlatform& Platform() { return dynamic_cast<CQtPlatform&>(m_pApp->Platform()); }

    // An 8-bit georeferenced map opened in the window, and the same as its transformed map.
    void OpenMap()
    {
        CDIBWorld map;
        test::MakePatternPicture(map, 8, 40, 30);
        map.SetEdges({1000.0, 1029.0, 1039.0, 1000.0});
        const std::string strPath = m_folder.Path("scan.bmp");
        ASSERT_EQ(map.SaveWorld(strPath), ESaveResult::Written);
        ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strPath)));
        auto pTransformed = std::make_unique<CDIBWorld>();
        test::MakePatternPicture(*pTransformed, 8, 40, 30);
        pTransformed->SetEdges({2000.0, 2029.0, 2039.0, 2000.0});
        Document().SetTransformedMap(std::move(pTransformed));
    }

    CTempFolder m_folder;
    std::unique_ptr<COrvexApp> m_pApp;
};

TEST_F(QtFileDialogTest, TheChosenTypeDecidesTheFileWrittenAndIsRemembered)
{
    OpenMap();
    struct SCase {
        const char* pCommand;
        EPick ePick;
        const char* pTypeName;
        const char* pTyped;      // what the user types
        bool bNameFirst;         // typed before the type is chosen
        const char* pWritten;    // the picture written
        const char* pWorldFile;  // and its world file
        const char* pKind;
        int nRemembered;  // the shared 1-based index, open-dialog numbering
    };
    const SCase aCases[] = {
        {"Save As", EPick::Keyboard, "Tagged Image Format", "kbd", false, "kbd.TIF", "kbd.TFW", "TIFF", 5},
        {"Save As", EPick::Mouse, "Portable Network Graphics", "mouse", false, "mouse.PNG", "mouse.PGW", "PNG", 6},
        // A name with the previous type's extension takes the chosen type's.
        {"Save As", EPick::Mouse, "Tagged Image Format", "named.bmp", true, "named.TIF", "named.TFW", "TIFF", 5},
        {"Save Transformed Map As", EPick::Keyboard, "Portable Network Graphics", "north", true, "north.PNG",
         "north.PGW", "PNG", 6},
        {"Save Transformed Map As", EPick::Mouse, "Tagged Image Format", "rect", false, "rect.TIF", "rect.TFW", "TIFF",
         5},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(std::string(aCase.pCommand) + " " + aCase.pTypeName + " " + aCase.pTyped);
        // The dialog starts in the working folder.
        const std::filesystem::path previousFolder = std::filesystem::current_path();
        std::filesystem::current_path(m_folder.Root());
        WhenModal<QFileDialog>([&aCase](QFileDialog& dialog) {
            const std::optional<SSaveDialogParts> parts = SaveDialogParts(dialog);
            if (!parts)
                return;
            const auto [pTypes, pName, pSave] = *parts;
            const int nEntry = EntryStartingWith(*pTypes, QString::fromLatin1(aCase.pTypeName));
            EXPECT_GE(nEntry, 0);
            if (aCase.bNameFirst)
                TypeName(*pName, QString::fromLatin1(aCase.pTyped));
            PickType(*pTypes, nEntry, aCase.ePick);
            if (!aCase.bNameFirst)
                TypeName(*pName, QString::fromLatin1(aCase.pTyped));
            QTest::mouseClick(pSave, Qt::LeftButton);
            if (dialog.isVisible()) {
                ADD_FAILURE() << "Save did not close the dialog; the name reads " << pName->text().toStdString();
                dialog.reject();
            }
        });
        const bool bSaved = std::string(aCase.pCommand) == "Save As" ? Document().OnFileSaveAs()
                                                                      : Document().OnFileSaveTransformedAs();
        std::filesystem::current_path(previousFolder);
        EXPECT_TRUE(bSaved);
        EXPECT_EQ(FileKind(m_folder.Path(aCase.pWritten)), aCase.pKind);
        EXPECT_TRUE(std::filesystem::is_regular_file(m_folder.Path(aCase.pWorldFile)));
        const std::string strStem = std::filesystem::path(aCase.pWritten).stem().string();
        for (const char* pOther : {".BMP", ".BPW", ""})
            EXPECT_FALSE(std::filesystem::exists(m_folder.Path(strStem + pOther))) << strStem << pOther;
        EXPECT_EQ(m_pApp->m_nOpenFilterIndex, aCase.nRemembered);
        EXPECT_EQ(Platform().GetProfileInt("IMAGELOAD", "Filter", 0), aCase.nRemembered);

        // The next save dialog opens on that type.
        WhenModal<QFileDialog>([&aCase](QFileDialog& dialog) {
            if (QComboBox* pTypes = TypeList(dialog))
                EXPECT_TRUE(pTypes->currentText().startsWith(QString::fromLatin1(aCase.pTypeName)))
                    << pTypes->currentText().toStdString();
            else
                ADD_FAILURE() << "not Qt's own file dialog";
            dialog.reject();
        });
        EXPECT_FALSE(Document().OnFileSaveAs());
    }
}

// A JPEG scan's transformed map is offered as TIFF, so that a bare name writes no lossy
// map; Save As of the scan itself still offers JPEG, and a type the user chooses, JPEG too,
// is remembered and offered next time.
TEST_F(QtFileDialogTest, TheTransformedMapOfAJpegScanIsOfferedLosslessFirst)
{
    const auto openJpegScan = [this] {
        CDIBWorld map;
        test::MakePatternPicture(map, 24, 40, 30);
        map.SetEdges({1000.0, 1029.0, 1039.0, 1000.0});
        const std::string strPath = m_folder.Path("scan.jpg");
        ASSERT_EQ(map.SaveWorld(strPath), ESaveResult::Written);
        // The advice to convert a 24-bit map.
        WhenModal<QMessageBox>([](QMessageBox& box) { box.accept(); });
        ASSERT_TRUE(m_pApp->OpenDocumentFile(QString::fromStdString(strPath)));
        auto pTransformed = std::make_unique<CDIBWorld>();
        test::MakePatternPicture(*pTransformed, 24, 40, 30);
        pTransformed->SetEdges({2000.0, 2029.0, 2039.0, 2000.0});
        Document().SetTransformedMap(std::move(pTransformed));
    };
    // The type the dialog shows first; the name typed, and the type chosen when not empty.
    const auto save = [this](bool bTransformed, QString* pOffered, const char* pTyped, const char* pType) {
        WhenModal<QFileDialog>([=](QFileDialog& dialog) {
            const std::optional<SSaveDialogParts> parts = SaveDialogParts(dialog);
            if (!parts)
                return;
            const auto [pTypes, pName, pSave] = *parts;
            *pOffered = pTypes->currentText();
            if (!pTyped) {
                dialog.reject();
                return;
            }
            if (pType)
                PickType(*pTypes, EntryStartingWith(*pTypes, QString::fromLatin1(pType)), EPick::Keyboard);
            TypeName(*pName, QString::fromLatin1(pTyped));
            QTest::mouseClick(pSave, Qt::LeftButton);
            if (dialog.isVisible()) {
                ADD_FAILURE() << "Save did not close the dialog";
                dialog.reject();
            }
        });
        const std::filesystem::path previousFolder = std::filesystem::current_path();
        std::filesystem::current_path(m_folder.Root());
        const bool bSaved = bTransformed ? Document().OnFileSaveTransformedAs() : Document().OnFileSaveAs();
        std::filesystem::current_path(previousFolder);
        return bSaved;
    };
    openJpegScan();
    QString strOffered;
    // Save As of the scan: its own type, as before.
    EXPECT_FALSE(save(false, &strOffered, nullptr, nullptr));
    EXPECT_TRUE(strOffered.startsWith(QStringLiteral("JPEG"))) << strOffered.toStdString();
    // The transformed map: TIFF, and a bare name is a TIFF with its world file.
    EXPECT_TRUE(save(true, &strOffered, "sheet", nullptr));
    EXPECT_TRUE(strOffered.startsWith(QStringLiteral("Tagged Image Format"))) << strOffered.toStdString();
    EXPECT_EQ(FileKind(m_folder.Path("sheet.TIF")), "TIFF");
    EXPECT_TRUE(std::filesystem::is_regular_file(m_folder.Path("sheet.TFW")));
    EXPECT_FALSE(std::filesystem::exists(m_folder.Path("sheet.JPG")));
    EXPECT_EQ(m_pApp->m_nOpenFilterIndex, 5);

    // Opened again, the user chooses JPEG for the transformed map: it is written and
    // remembered, and offered the next time.
    Document().SetTransformedModified(false);
    openJpegScan();
    EXPECT_EQ(m_pApp->m_nOpenFilterIndex, 3);
    EXPECT_TRUE(save(true, &strOffered, "lossy", "JPEG"));
    EXPECT_TRUE(strOffered.startsWith(QStringLiteral("Tagged Image Format"))) << strOffered.toStdString();
    EXPECT_EQ(FileKind(m_folder.Path("lossy.JPG")), "JPEG");
    EXPECT_TRUE(std::filesystem::is_regular_file(m_folder.Path("lossy.JGW")));
    EXPECT_EQ(m_pApp->m_nOpenFilterIndex, 3);
    EXPECT_EQ(Platform().GetProfileInt("IMAGELOAD", "Filter", 0), 3);
    EXPECT_FALSE(save(true, &strOffered, nullptr, nullptr));
    EXPECT_TRUE(strOffered.startsWith(QStringLiteral("JPEG"))) << strOffered.toStdString();
}

TEST_F(QtFileDialogTest, TheDialogOpensWideEnoughForItsColumnsAndKeepsTheSizeTheUserGaveIt)
{
    // A file of 434 KiB, as the sizes the user saw cut.
    const std::string strFolder = m_folder.Path("maps");
    std::filesystem::create_directory(strFolder);
    {
        CDIBWorld map;
        test::MakePatternPicture(map, 24, 380, 390);
        ASSERT_EQ(map.SaveDIBSilent(strFolder + "/sample-map.bmp"), ESaveResult::Written);
    }
    SFileDialogRequest request;
    request.strFilter = "Windows Bitmap (*.BMP)|*.BMP|";
    request.strInitialFolder = strFolder;

    const QLocale locale = QLocale::system();
    QSize opened;
    WhenModal<QFileDialog>([&](QFileDialog& dialog) {
        auto* pView = dialog.findChild<QTreeView*>(QStringLiteral("treeView"));
        if (!pView) {
            ADD_FAILURE() << "no detail view";
            dialog.reject();
            return;
        }
        // Let the folder be read and shown.
        QTest::qWait(300);
        opened = dialog.size();
        const QFontMetrics metrics(pView->font());
        const QHeaderView& header = *pView->header();
        const struct {
            int nColumn;
            QString strText;
        } aTexts[] = {
            {1, locale.formattedDataSize(1024 * 1024 - 11)},
            {1, locale.formattedDataSize(static_cast<qint64>(std::filesystem::file_size(strFolder + "/sample-map.bmp")))},
            {3, locale.toString(QDateTime(QDate(2000, 12, 28), QTime(23, 59, 59)), QLocale::ShortFormat)},
        };
        for (const auto& text : aTexts)
            EXPECT_GT(header.sectionSize(text.nColumn), metrics.horizontalAdvance(text.strText))
                << text.nColumn << " " << text.strText.toStdString();
        // Every column in view without scrolling sideways.
        int nColumns = 0;
        for (int i = 0; i < header.count(); ++i)
            nColumns += header.sectionSize(i);
        EXPECT_LE(nColumns, pView->viewport()->width());
        dialog.resize(dialog.width() + 50, dialog.height() + 40);
        dialog.reject();
    });
    EXPECT_FALSE(Platform().GetOpenFileName(request).bAccepted);
    EXPECT_GT(opened.width(), 624);  // Qt's own first size, which cut the columns
    EXPECT_EQ(Platform().GetProfileInt("DIALOGSIZE", "FileDlgWidth", 0), opened.width() + 50);
    EXPECT_EQ(Platform().GetProfileInt("DIALOGSIZE", "FileDlgHeight", 0), opened.height() + 40);

    // The next dialog opens at the size the user left.
    QSize reopened;
    WhenModal<QFileDialog>([&reopened](QFileDialog& dialog) {
        reopened = dialog.size();
        dialog.reject();
    });
    EXPECT_FALSE(Platform().GetSaveFileName(request).bAccepted);
    EXPECT_EQ(reopened, QSize(opened.width() + 50, opened.height() + 40));
}

TEST(QtFilterEntry, FindsTheEntryByItsWholeTextOrItsName)
{
    const QStringList aFilters = QtFileFilters("Windows Bitmap (*.BMP)|*.BMP|JPEG (*.JPG)|*.JPG|Portable Network Graphics (*.PNG)|*.PNG|", true);
    ASSERT_EQ(aFilters.size(), 3);
    // Each entry starts with the type's own extension, then matches any letter case.
    EXPECT_EQ(aFilters[2], QStringLiteral("Portable Network Graphics (*.PNG) (*.PNG *.[Pp][Nn][Gg])"));
    const struct {
        QString strChosen;
        int nEntry;
    } aCases[] = {
        {aFilters[1], 1},
        {QStringLiteral("Portable Network Graphics (*.PNG)"), 2},  // the name alone
        {QStringLiteral("Windows Bitmap (*.BMP)"), 0},
        {QStringLiteral("Portable Network Graphics"), -1},
        {QString(), -1},
    };
    for (const auto& aCase : aCases)
        EXPECT_EQ(QtFilterEntry(aFilters, aCase.strChosen), aCase.nEntry) << aCase.strChosen.toStdString();
}

}  // namespace
}  // namespace gridmorph
