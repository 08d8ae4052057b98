// The multiple file selection dialog: the duplicate rule, Delete, the hand-back at Close,
// Cancel keeping the caller's list, the list's horizontal extent and the stored size.
#include <gtest/gtest.h>

#include <QAbstractItemView>
#include <QCompleter>
#include <QDialogButtonBox>
#include <QFileDialog>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <filesystem>
#include <fstream>

#include "dialogs/HorzListBox.h"
#include "dialogs/MFileDialog.h"
#include "gui/ModalDriver.h"
#include "support/TestSupport.h"

namespace gridmorph {
namespace {

using test::CPlatformTest;
using test::CTempFolder;

class MFileDialogTest : public CPlatformTest {
protected:
    MFileDialogTest()
    {
        for (const char* pName : {"a.bmp", "A.bmp", "b.png", "c.tif"})
            std::ofstream(m_folder.Path(pName)) << "x";
        std::filesystem::create_directory(m_folder.Path("sub"));
        std::filesystem::create_symlink(m_folder.Path("a.bmp"), m_folder.Path("link.bmp"));
    }
    static std::vector<std::string> Items(const CHorzListBox& list)
    {
        std::vector<std::string> aItems;
        for (int i = 0; i < list.GetCount(); ++i)
            aItems.push_back(list.GetText(i).toStdString());
        return aItems;
    }
    QString Path(const char* pName) const { return QString::fromStdString(m_folder.Path(pName)); }

    CTempFolder m_folder;
    const std::string m_strFilter = "Image files|*.BMP;*.PNG;*.TIF|All (*.*)|*.*||";
};

TEST_F(MFileDialogTest, AddKeepsOneEntryPerFileAndDeleteSelectsTheNextOne)
{
    std::vector<std::string> aList;
    CMFileDialog dialog(m_strFilter, m_folder.Root().string());
    dialog.m_pFileList = &aList;
    EXPECT_EQ(dialog.Browser()->directory().absolutePath().toStdString(), m_folder.Root().string());
    CHorzListBox& list = *dialog.List();

    // The same file however its path is spelt; another letter case is another file here.
    dialog.OnFileNameOK({Path("a.bmp"), Path("b.png")});
    dialog.OnFileNameOK({Path("a.bmp"), Path("sub/../a.bmp"), Path("link.bmp"), Path("A.bmp"), Path("c.tif")});
    EXPECT_EQ(Items(list), (std::vector<std::string>{m_folder.Path("a.bmp"), m_folder.Path("b.png"),
                                                     m_folder.Path("A.bmp"), m_folder.Path("c.tif")}));

    // Nothing selected: nothing deleted.
    list.clearSelection();
    list.setCurrentRow(-1);
    dialog.OnDeleteFile();
    EXPECT_EQ(list.GetCount(), 4);
    // In the middle: the item now at that place is selected; the last: the new last one.
    list.setCurrentRow(1);
    dialog.Button(CMFileDialog::IDC_DELETE)->click();
    EXPECT_EQ(Items(list), (std::vector<std::string>{m_folder.Path("a.bmp"), m_folder.Path("A.bmp"), m_folder.Path("c.tif")}));
    EXPECT_EQ(list.currentRow(), 1);
    ASSERT_NE(list.currentItem(), nullptr);
    EXPECT_TRUE(list.currentItem()->isSelected());
    list.setCurrentRow(2);
    dialog.OnDeleteFile();
    EXPECT_EQ(list.currentRow(), 1);
    ASSERT_NE(list.currentItem(), nullptr);
    EXPECT_EQ(list.currentItem()->text(), Path("A.bmp"));
    EXPECT_TRUE(list.currentItem()->isSelected());
    EXPECT_TRUE(aList.empty());  // nothing handed back before Close
}

TEST_F(MFileDialogTest, CloseHandsTheListBackAndCancelKeepsTheCallersList)
{
    const std::vector<std::string> aBefore{m_folder.Path("c.tif")};
    struct SCase {
        const char* pName;
        std::function<void(CMFileDialog&)> fnLeave;
        bool bClosed;
    };
    const SCase aCases[] = {
        {"Close", [](CMFileDialog& dialog) { dialog.Button(CMFileDialog::IDC_CLOSE)->click(); }, true},
        {"Cancel", [](CMFileDialog& dialog) { dialog.Browser()->reject(); }, false},
        {"close box", [](CMFileDialog& dialog) { dialog.close(); }, false},
    };
    for (const SCase& aCase : aCases) {
        SCOPED_TRACE(aCase.pName);
        std::vector<std::string> aList = aBefore;
        CMFileDialog dialog(m_strFilter, m_folder.Root().string());
        dialog.m_pFileList = &aList;
        std::vector<std::string> aShown;
        test::WhenModal<CMFileDialog>([&](CMFileDialog& running) {
            aShown = Items(*running.List());
            running.OnFileNameOK({Path("b.png"), Path("a.bmp")});
            aCase.fnLeave(running);
        });
        EXPECT_EQ(dialog.exec(), QDialog::Rejected);  // it always ends as cancelled
        EXPECT_EQ(aShown, aBefore);
        EXPECT_EQ(dialog.m_bClosed, aCase.bClosed);
        if (aCase.bClosed) {
            EXPECT_EQ(aList, (std::vector<std::string>{m_folder.Path("c.tif"), m_folder.Path("b.png"), m_folder.Path("a.bmp")}));
            EXPECT_EQ(dialog.m_nFileCount, 3);
        } else {
            EXPECT_EQ(aList, aBefore);
        }
    }
}

TEST_F(MFileDialogTest, TheHorizontalExtentFollowsTheWidestItem)
{
    CHorzListBox list;
    list.resize(200, 120);
    list.show();
    const QString strShort = QStringLiteral("/m/a.bmp");
    const QString strWide = QStringLiteral("/maps/") + QString(80, QLatin1Char('w')) + QStringLiteral(".bmp");
    const QString strMiddle = QStringLiteral("/maps/") + QString(40, QLatin1Char('m')) + QStringLiteral(".bmp");
    const auto Width = [&list](const QString& strText) { return list.fontMetrics().horizontalAdvance(strText) + 6; };

    EXPECT_EQ(list.AddString(strShort), 0);
    EXPECT_EQ(list.GetHorizontalExtent(), Width(strShort));
    EXPECT_EQ(list.AddString(strWide), 1);
    EXPECT_EQ(list.InsertString(1, strMiddle), 1);
    EXPECT_EQ(list.m_arrExtents, (std::vector<int>{Width(strShort), Width(strMiddle), Width(strWide)}));
    EXPECT_EQ(list.GetHorizontalExtent(), Width(strWide));
    QCoreApplication::processEvents();
    EXPECT_EQ(list.horizontalScrollBar()->maximum(), Width(strWide) - list.viewport()->width());

    // Deleting the widest shrinks the range to the next widest; a narrower one leaves it.
    EXPECT_EQ(list.DeleteString(2), 2);
    EXPECT_EQ(list.GetHorizontalExtent(), Width(strMiddle));
    QCoreApplication::processEvents();
    EXPECT_EQ(list.horizontalScrollBar()->maximum(), Width(strMiddle) - list.viewport()->width());
    EXPECT_EQ(list.DeleteString(0), 1);
    EXPECT_EQ(list.GetHorizontalExtent(), Width(strMiddle));
    EXPECT_EQ(list.DeleteString(5), CHorzListBox::LB_ERR);
    EXPECT_EQ(list.InsertString(7, strShort), CHorzListBox::LB_ERR);
    EXPECT_EQ(list.DeleteString(0), 0);
    EXPECT_EQ(list.GetHorizontalExtent(), 0);
}

TEST_F(MFileDialogTest, TheSizeIsStoredWhicheverWayTheDialogEnds)
{
    CProfileStore& profile = m_platform.Profile();
    const auto Stored = [&profile] {
        return QSize(profile.GetInt("DIALOGSIZE", "MFileDlgWidth", 0), profile.GetInt("DIALOGSIZE", "MFileDlgHeight", 0));
    };
    std::vector<std::string> aList;
    // First use: the dialog's own size, stored when it goes.
    QSize firstSize;
    {
        CMFileDialog dialog(m_strFilter, "");
        dialog.m_pFileList = &aList;
        test::WhenModal<CMFileDialog>([&firstSize](CMFileDialog& running) {
            firstSize = running.size();
            running.reject();
        });
        dialog.exec();
    }
    EXPECT_GT(firstSize.width(), 0);
    EXPECT_EQ(Stored(), firstSize);

    // The next use opens at it; the user makes it bigger, and that is stored.
    QSize secondSize;
    {
        CMFileDialog dialog(m_strFilter, "");
        dialog.m_pFileList = &aList;
        test::WhenModal<CMFileDialog>([&secondSize](CMFileDialog& running) {
            secondSize = running.size();
            running.resize(running.width() + 40, running.height() + 30);
            running.Button(CMFileDialog::IDC_CLOSE)->click();
        });
        dialog.exec();
    }
    EXPECT_EQ(secondSize, firstSize);
    EXPECT_EQ(Stored(), QSize(firstSize.width() + 40, firstSize.height() + 30));
}

// The name typed and added leaves the field, so the next name is typed on its own.
TEST_F(MFileDialogTest, AddEmptiesTheNameField)
{
    std::vector<std::string> aList;
    CMFileDialog dialog(m_strFilter, m_folder.Root().string());
    dialog.m_pFileList = &aList;
    test::WhenModal<CMFileDialog>([](CMFileDialog& running) {
        auto* pName = running.Browser()->findChild<QLineEdit*>(QStringLiteral("fileNameEdit"));
        auto* pButtons = running.Browser()->findChild<QDialogButtonBox*>(QStringLiteral("buttonBox"));
        QPushButton* pAdd = nullptr;
        if (pButtons)
            for (QAbstractButton* pButton : pButtons->buttons())
                if (pButtons->buttonRole(pButton) == QDialogButtonBox::AcceptRole)
                    pAdd = qobject_cast<QPushButton*>(pButton);
        if (!pName || !pAdd) {
            ADD_FAILURE() << "no name field or Add button";
            running.reject();
            return;
        }
        EXPECT_EQ(pAdd->text(), QStringLiteral("&Add"));
        for (const char* pTyped : {"a.bmp", "b.png"}) {
            pName->setFocus();
            QTest::keyClicks(pName, QString::fromLatin1(pTyped));
            QTest::mouseClick(pAdd, Qt::LeftButton);
            EXPECT_EQ(pName->text(), QString()) << pTyped;
            if (pName->completer() && pName->completer()->popup()) {
                EXPECT_FALSE(pName->completer()->popup()->isVisible()) << pTyped;
            }
        }
        running.Button(CMFileDialog::IDC_CLOSE)->click();
    });
    dialog.exec();
    EXPECT_EQ(aList, (std::vector<std::string>{m_folder.Path("a.bmp"), m_folder.Path("b.png")}));
}

}  // namespace
}  // namespace gridmorph
