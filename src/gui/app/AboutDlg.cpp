#include "app/AboutDlg.h"

#include <QDialogButtonBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QVBoxLayout>

#include "shared/AppIcons.h"

namespace gridmorph {

CAboutDlg::CAboutDlg(QWidget* pParent) : QDialog(pParent)
{
    setObjectName(QStringLiteral("aboutDialog"));
    setWindowTitle(QStringLiteral("About Gridmorph"));
    auto* pIcon = new QLabel(this);
    pIcon->setPixmap(ProgramIcon().pixmap(48, 48));
    pIcon->setAlignment(Qt::AlignTop);
    auto* pText = new QLabel(this);
    pText->setObjectName(QStringLiteral("aboutText"));
    // The suite's release line, then this program's own version (the CMake project
    // version, which gridmorph-cli --version and the package show too).
    pText->setText(QStringLiteral("Gridmorph Version 4.2.1.5\n"
                                  "Program version " GRIDMORPH_VERSION "\n\n"
                                  "Turns scanned maps into georeferenced, north-up background maps.\n\n"
                                  "Copyright \u00A9 2026 the Gridmorph developers.\n"
                                  "This program is provided as is, without warranty of any kind."));
    pText->setTextInteractionFlags(Qt::TextSelectableByMouse);
    auto* pButtons = new QDialogButtonBox(QDialogButtonBox::Ok, this);
    connect(pButtons, &QDialogButtonBox::accepted, this, &QDialog::accept);
    auto* pRow = new QHBoxLayout;
    pRow->addWidget(pIcon);
    pRow->addSpacing(12);
    pRow->addWidget(pText, 1);
    auto* pLayout = new QVBoxLayout(this);
    pLayout->addLayout(pRow);
    pLayout->addWidget(pButtons);
    pLayout->setSizeConstraint(QLayout::SetFixedSize);
}

}  // namespace gridmorph
