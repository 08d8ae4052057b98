#include "dialogs/OvNewWorldFileDlg.h"

#include <QCheckBox>
#include <QDialogButtonBox>
#include <QGroupBox>
#include <QLabel>
#include <QVBoxLayout>

#include "platform/Platform.h"
#include "world/DIBWorld.h"
#include "world/WorldFile.h"

namespace gridmorph {

COvNewWorldFileDlg::COvNewWorldFileDlg(QWidget* pParent) : QDialog(pParent)
{
    setObjectName(QStringLiteral("createWorldFileDialog"));
    setWindowTitle(QStringLiteral("Create World File"));

    auto* pNameGroup = new QGroupBox(QStringLiteral("Image File Name"), this);
    m_pImageFile = new QLabel(pNameGroup);
    m_pImageFile->setObjectName(QStringLiteral("control%1").arg(IDC_IMAGE_FILE));
    m_pImageFile->setTextFormat(Qt::PlainText);
    m_pImageFile->setTextInteractionFlags(Qt::TextSelectableByMouse);
    // A long path breaks anywhere rather than widening the dialog past the screen.
    m_pImageFile->setWordWrap(true);
    auto* pNameLayout = new QVBoxLayout(pNameGroup);
    pNameLayout->addWidget(m_pImageFile);

    auto* pExplanation = new QLabel(
        QStringLiteral("World files of the following types can be created. They will have the same name\n"
                       "and be placed in the same folder as the image file above to which they relate.\n"
                       "The content of each of the files will be identical."),
        this);

    auto* pLayout = new QVBoxLayout(this);
    pLayout->addWidget(pNameGroup);
    pLayout->addSpacing(4);
    pLayout->addWidget(pExplanation);
    pLayout->addSpacing(4);
    for (int i = 0; i < 5; ++i) {
        m_apBoxes[i] = new QCheckBox(QString::fromLatin1(kWorldFileFlavours[i].pLabel), this);
        m_apBoxes[i]->setObjectName(QStringLiteral("control%1").arg(IDC_BPW + i));
        pLayout->addWidget(m_apBoxes[i]);
    }
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    connect(pButtons, &QDialogButtonBox::rejected, this, &QDialog::reject);
    pLayout->addSpacing(4);
    pLayout->addWidget(pButtons);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);
    m_pImageFile->setMinimumWidth(pExplanation->sizeHint().width());
    m_pImageFile->setMaximumWidth(pExplanation->sizeHint().width());
}

QCheckBox* COvNewWorldFileDlg::CheckBox(int nControl) const
{
    return nControl >= IDC_BPW && nControl <= IDC_PGW ? m_apBoxes[nControl - IDC_BPW] : nullptr;
}

void COvNewWorldFileDlg::InitDialog()
{
    // Break a long path at its folder separators, as well as anywhere a word is too long.
    QString strShown = QString::fromStdString(m_strImageFile);
    strShown.replace(QLatin1Char('/'), QStringLiteral("/\u200b"));
    m_pImageFile->setText(strShown);
    const bool abValues[] = {m_bBPW, m_bJGW, m_bGFW, m_bTFW, m_bPGW};
    for (int i = 0; i < 5; ++i)
        m_apBoxes[i]->setChecked(abValues[i]);
}

int COvNewWorldFileDlg::exec()
{
    InitDialog();
    return QDialog::exec();
}

bool COvNewWorldFileDlg::DoDataExchange()
{
    bool* apValues[] = {&m_bBPW, &m_bJGW, &m_bGFW, &m_bTFW, &m_bPGW};
    bool bAny = false;
    for (int i = 0; i < 5; ++i) {
        *apValues[i] = m_apBoxes[i]->isChecked();
        bAny = bAny || *apValues[i];
    }
    if (!bAny) {
        ShowWarning("At least one output format must be selected.");
        m_apBoxes[0]->setFocus(Qt::OtherFocusReason);
        return false;
    }
    return true;
}

void COvNewWorldFileDlg::accept()
{
    if (!DoDataExchange())
        return;
    const bool abValues[] = {m_bBPW, m_bJGW, m_bGFW, m_bTFW, m_bPGW};
    for (int i = 0; i < 5; ++i)
        if (abValues[i] && !WriteDialogWorldFile(kWorldFileFlavours[i]))
            return;
    QDialog::accept();
}

bool COvNewWorldFileDlg::WriteDialogWorldFile(const SWorldFileFlavour& flavour)
{
    const SWorldFileValues values = m_pImage ? m_pImage->GetWorldFileValues() : SWorldFileValues{};
    const SWorldFileWritten written = WriteWorldFileOfFlavour(m_strImageFile, flavour, values);
    if (!written.bWritten)
        ShowWarning("Could not open " + written.strPath);
    return written.bWritten;
}

}  // namespace gridmorph
