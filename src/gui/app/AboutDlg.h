#pragma once

#include <QDialog>

namespace gridmorph {

// "About Gridmorph": the program's icon, its version and the maker's notices.
class CAboutDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAboutDlg(QWidget* pParent = nullptr);
};

}  // namespace gridmorph
