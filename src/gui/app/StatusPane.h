#pragma once

#include <QLabel>

namespace gridmorph {

// A status-bar pane as wide as the widest text it is made for, measured in its own font
// (so it follows the desktop's font and any later change of it), or as the text it shows
// when that is wider still.
class CStatusPane : public QLabel {
    Q_OBJECT
public:
    CStatusPane(const QString& strWidestText, QWidget* pParent = nullptr);

    QSize sizeHint() const override;
    QSize minimumSizeHint() const override;

private:
    QString m_strWidestText;
};

}  // namespace gridmorph
