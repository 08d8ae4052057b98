#pragma once

#include <QDialog>
#include <string>

class QCheckBox;
class QLabel;

namespace gridmorph {

struct SWorldFileFlavour;

class CDIBWorld;

// "Create World File": writes the world file of the current map in each flavour ticked
// (.BPW, .JGW, .GFW, .TFW, .PGW), beside the image file, all with the same content. The
// dialog does the writing itself; a file that cannot be written keeps it open, and the
// flavours written before it stay.
class COvNewWorldFileDlg : public QDialog {
    Q_OBJECT
public:
    enum EControl { IDC_IMAGE_FILE = 3561, IDC_BPW, IDC_JGW, IDC_GFW, IDC_TFW, IDC_PGW };

    explicit COvNewWorldFileDlg(QWidget* pParent = nullptr);

    QCheckBox* CheckBox(int nControl) const;
    QLabel* ImageFileText() const { return m_pImageFile; }

    void InitDialog();
    int exec() override;
    // OnOK: reads the boxes, then writes the ticked flavours in order.
    void accept() override;
    // Writes the world file of one flavour (".JGW" ...): the image file's name up to its
    // extension + that extension. False, after saying so, when it cannot be written.
    bool WriteDialogWorldFile(const SWorldFileFlavour& flavour);

    std::string m_strImageFile;
    bool m_bBPW = false;
    bool m_bJGW = false;
    bool m_bGFW = false;
    bool m_bTFW = false;
    bool m_bPGW = false;
    // The current map; not owned.
    CDIBWorld* m_pImage = nullptr;

private:
    bool DoDataExchange();

    QLabel* m_pImageFile = nullptr;
    QCheckBox* m_apBoxes[5] = {};
};

}  // namespace gridmorph
