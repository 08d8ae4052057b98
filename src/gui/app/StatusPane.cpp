#include "app/StatusPane.h"

#include <algorithm>

namespace gridmorph {

CStatusPane::CStatusPane(const QString& strWidestText, QWidget* pParent) : QLabel(pParent), m_strWidestText(strWidestText)
{
    setFrameShape(QFrame::Panel);
    setFrameShadow(QFrame::Sunken);
}

QSize CStatusPane::sizeHint() const
{
    const QSize shown = QLabel::sizeHint();
    const QFontMetrics metrics = fontMetrics();
    const QMargins margins = contentsMargins();
    // The frame is inside the contents margins; a character's width of air around the text.
    const int nWidest = metrics.horizontalAdvance(m_strWidestText) + metrics.averageCharWidth() + margins.left() +
                        margins.right() + 2 * margin();
    return QSize(std::max(shown.width() + metrics.averageCharWidth(), nWidest), shown.height());
}

QSize CStatusPane::minimumSizeHint() const { return sizeHint(); }

}  // namespace gridmorph
