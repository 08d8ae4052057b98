// Numbers typed in the dialogs are numbers: "nan", "inf" and their kin, which Qt's number
// reading takes, are refused in every number field like any other text that is not a
// number; a world file holding one is refused before its numbers reach the dialog.
#include <gtest/gtest.h>

#include <QLineEdit>
#include <fstream>
#include <functional>
#include <memory>

#include "dialogs/OrvexNewDlg.h"
#include "dialogs/OvWorldFileDlg.h"
#include "support/TestSupport.h"
#include "transform/LocatorSet.h"
#include "dialogs/FieldExchange.h"
#include "view/OrvexEditEdgeDlg.h"
#include "view/OrvexTransDlg.h"

namespace gridmorph {
namespace {

using test::CPlatformTest;
using test::CTempFolder;

// Texts that are not finite numbers, and two that are no numbers at all for comparison.
const char* const kNotNumbers[] = {"nan", "NaN", "-nan", "inf", "-inf", "+inf", "INF", "infinity",
                                   "-Infinity", "1e999", "-1e999", " nan ", "abc", ""};

class NumberFieldsTest : public CPlatformTest {};

TEST_F(NumberFieldsTest, ExchangeDoubleRefusesWhatIsNotAFiniteNumber)
{
    QLineEdit field;
    for (const char* pText : kNotNumbers) {
        SCOPED_TRACE(pText);
        m_platform.ClearRecord();
        field.setText(QString::fromLatin1(pText));
        double dValue = 42.0;
        // The widest limits there are: only the reading can refuse.
        EXPECT_FALSE(ExchangeDouble(&field, std::numeric_limits<double>::lowest(), std::numeric_limits<double>::max(), dValue));
        EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Please enter a number."});
        EXPECT_EQ(dValue, 42.0);
    }
    // Finite numbers still pass, in the C form whatever the locale.
    for (const auto& [pText, dExpected] : {std::pair{"512250.5", 512250.5}, {"-1e3", -1000.0}, {" 7 ", 7.0}}) {
        m_platform.ClearRecord();
        field.setText(QString::fromLatin1(pText));
        double dValue = 0.0;
        EXPECT_TRUE(ExchangeDouble(&field, -1e8, 1e8, dValue)) << pText;
        EXPECT_EQ(dValue, dExpected);
        EXPECT_TRUE(m_platform.Messages().empty());
    }
}

// Each dialog with a number field: made, shown and filled with valid numbers, then the
// field under test given the text.
struct SDialogCase {
    const char* pName;
    std::function<std::unique_ptr<QDialog>()> fnMake;
    std::function<QLineEdit*(QDialog&)> fnField;
};

std::vector<SDialogCase> DialogCases()
{
    std::vector<SDialogCase> aCases;
    aCases.push_back({"Transform, easting of point 1",
                      [] {
                          auto pDialog = std::make_unique<COrvexTransDlg>();
                          CLocatorSet locators;
                          pDialog->SetFrom(locators, 640, 480);
                          pDialog->show();
                          pDialog->InitDialog();
                          return std::unique_ptr<QDialog>(std::move(pDialog));
                      },
                      [](QDialog& d) { return static_cast<COrvexTransDlg&>(d).Field(COrvexTransDlg::IDC_EASTING1); }});
    aCases.push_back({"Transform, northing of point 3",
                      [] {
                          auto pDialog = std::make_unique<COrvexTransDlg>();
                          CLocatorSet locators;
                          pDialog->SetFrom(locators, 640, 480);
                          pDialog->show();
                          pDialog->InitDialog();
                          return std::unique_ptr<QDialog>(std::move(pDialog));
                      },
                      [](QDialog& d) { return static_cast<COrvexTransDlg&>(d).Field(COrvexTransDlg::IDC_NORTHING3); }});
    for (int nControl : {COrvexEditEdgeDlg::IDC_EAST, COrvexEditEdgeDlg::IDC_NORTH, COrvexEditEdgeDlg::IDC_SOUTH,
                         COrvexEditEdgeDlg::IDC_WEST}) {
        aCases.push_back({"Edit Map Location",
                          [] {
                              auto pDialog = std::make_unique<COrvexEditEdgeDlg>();
                              pDialog->show();
                              pDialog->InitDialog();
                              pDialog->Field(COrvexEditEdgeDlg::IDC_EAST)->setText(QStringLiteral("200"));
                              pDialog->Field(COrvexEditEdgeDlg::IDC_NORTH)->setText(QStringLiteral("200"));
                              return std::unique_ptr<QDialog>(std::move(pDialog));
                          },
                          [nControl](QDialog& d) { return static_cast<COrvexEditEdgeDlg&>(d).Field(nControl); }});
    }
    for (int nControl : {COrvexNewDlg::IDC_EAST, COrvexNewDlg::IDC_WEST}) {
        aCases.push_back({"New Background Map",
                          [] {
                              static int nFilterIndex = 1;
                              auto pDialog = std::make_unique<COrvexNewDlg>(nFilterIndex);
                              pDialog->show();
                              pDialog->InitDialog();
                              return std::unique_ptr<QDialog>(std::move(pDialog));
                          },
                          [nControl](QDialog& d) { return static_cast<COrvexNewDlg&>(d).Field(nControl); }});
    }
    for (int nControl : {COvWorldFileDlg::IDC_EAST, COvWorldFileDlg::IDC_NORTH, COvWorldFileDlg::IDC_SOUTH,
                         COvWorldFileDlg::IDC_WEST}) {
        aCases.push_back({"Setup from World File",
                          [] {
                              auto pDialog = std::make_unique<COvWorldFileDlg>();
                              pDialog->m_dEast = 200;
                              pDialog->m_dNorth = 200;
                              pDialog->InitDialog();
                              pDialog->show();
                              return std::unique_ptr<QDialog>(std::move(pDialog));
                          },
                          [nControl](QDialog& d) { return static_cast<COvWorldFileDlg&>(d).Field(nControl); }});
    }
    return aCases;
}

TEST_F(NumberFieldsTest, EveryDialogRefusesNanAndInfinityLikeAnyOtherText)
{
    for (const SDialogCase& aCase : DialogCases()) {
        for (const char* pText : kNotNumbers) {
            SCOPED_TRACE(std::string(aCase.pName) + ": \"" + pText + "\"");
            const std::unique_ptr<QDialog> pDialog = aCase.fnMake();
            QLineEdit* pField = aCase.fnField(*pDialog);
            ASSERT_NE(pField, nullptr);
            pField->setText(QString::fromLatin1(pText));
            m_platform.ClearRecord();
            pDialog->accept();
            EXPECT_EQ(MessageTexts(), std::vector<std::string>{"Please enter a number."});
            EXPECT_NE(pDialog->result(), QDialog::Accepted);
            EXPECT_TRUE(pDialog->isVisible());
            EXPECT_EQ(pDialog->focusWidget(), pField);
        }
    }
}

class WorldFileNumbersTest : public CPlatformTest {
protected:
    void Browse(COvWorldFileDlg& dialog, const std::string& strText, int nWidth, int nHeight)
    {
        const std::string strWorldFile = m_folder.Path("site.jgw");
        std::ofstream(strWorldFile, std::ios::binary) << strText;
        dialog.m_strImagePath = m_folder.Path("site.jpg");
        dialog.m_nImageWidth = nWidth;
        dialog.m_nImageHeight = nHeight;
        dialog.InitDialog();
        dialog.show();
        m_platform.AnswerNextFileDialog({true, strWorldFile, 0});
        dialog.OnBrowse();
    }

    CTempFolder m_folder;
};

TEST_F(WorldFileNumbersTest, AWorldFileWhoseNumbersAreNotFiniteIsRefused)
{
    using W = COvWorldFileDlg;
    const std::string strName = m_folder.Path("site.jgw");
    const struct {
        const char* pText;
        int nWidth;
        std::string strMessage;
    } aCases[] = {
        {"inf\n0\n0\n-2.5\n412000\n287000\n", 1000, "The world file " + strName + " cannot be used: line 1 is not a finite number."},
        {"2.5\n0\n0\n-2.5\n-inf\n287000\n", 1000, "The world file " + strName + " cannot be used: line 5 is not a finite number."},
        {"2.5\n0\n0\n-2.5\n412000\nnan\n", 1000, "The world file " + strName + " cannot be used: line 6 is not a finite number."},
        {"2.5\nINFINITY\n0\n-2.5\n412000\n287000\n", 1000,
         "The world file " + strName + " cannot be used: line 2 is not a finite number."},
        // Finite, but the edges they give for 1000 pixels are not.
        {"1e308\n0\n0\n-2.5\n1e308\n287000\n", 1000,
         "The world file " + strName + " cannot be used: the map edges it gives this picture are not finite numbers."},
    };
    for (const auto& aCase : aCases) {
        SCOPED_TRACE(aCase.pText);
        W dialog;
        Browse(dialog, aCase.pText, aCase.nWidth, 800);
        ASSERT_FALSE(MessageTexts().empty());
        EXPECT_EQ(MessageTexts().back(), aCase.strMessage);
        // Nothing of the file reached the fields, read-only or not.
        for (int nControl = W::IDC_NORTH; nControl <= W::IDC_TOP_LEFT_NORTHING; ++nControl)
            EXPECT_EQ(dialog.Field(nControl)->text(), QStringLiteral("0")) << nControl;
        EXPECT_EQ(dialog.m_dXResolution, 0.0);
        EXPECT_EQ(dialog.m_dEast, 0.0);
        m_platform.ClearRecord();
    }
    // The same file with finite numbers is read.
    W dialog;
    Browse(dialog, "2.5\n0\n0\n-2.5\n412000\n287000\n", 1000, 800);
    EXPECT_EQ(dialog.Field(W::IDC_EAST)->text(), QStringLiteral("414497.5"));
}

}  // namespace
}  // namespace gridmorph
