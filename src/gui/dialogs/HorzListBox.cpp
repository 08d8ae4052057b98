#include "dialogs/HorzListBox.h"

#include <QFontMetrics>
#include <algorithm>

namespace gridmorph {
namespace {

constexpr int kItemMargin = 6;

}  // namespace

CHorzListBox::CHorzListBox(QWidget* pParent) : QListWidget(pParent)
{
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    setVerticalScrollBarPolicy(Qt::ScrollBarAsNeeded);
    // Items are as wide as their text: nothing is shortened with an ellipsis.
    setTextElideMode(Qt::ElideNone);
    setWordWrap(false);
}

int CHorzListBox::MeasureText(const QString& strText) const
{
    return QFontMetrics(font()).horizontalAdvance(strText) + kItemMargin;
}

int CHorzListBox::RowHeight()
{
    if (m_nRowHeight == 0) {
        // What the item delegate wants for one line of text in the list's font.
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        option.text = QStringLiteral("Xg");
        option.features |= QStyleOptionViewItem::HasDisplay;
        m_nRowHeight = std::max(itemDelegate()->sizeHint(option, QModelIndex()).height(),
                                QFontMetrics(font()).height() + 2);
    }
    return m_nRowHeight;
}

void CHorzListBox::InsertNewExtent(int nIndex, const QString& strText)
{
    const int nExtent = MeasureText(strText);
    m_arrExtents.insert(m_arrExtents.begin() + nIndex, nExtent);
    if (nExtent > m_nLongestExtent)
        m_nLongestExtent = nExtent;
}

int CHorzListBox::AddString(const QString& strText) { return InsertString(-1, strText); }

int CHorzListBox::InsertString(int nIndex, const QString& strText)
{
    if (nIndex == -1)
        nIndex = count();
    if (nIndex < 0 || nIndex > count())
        return LB_ERR;
    auto* pItem = new QListWidgetItem(strText);
    insertItem(nIndex, pItem);
    InsertNewExtent(nIndex, strText);
    // The view's scroll range is the widest item's width.
    pItem->setSizeHint(QSize(m_arrExtents[static_cast<std::size_t>(nIndex)], RowHeight()));
    return nIndex;
}

int CHorzListBox::DeleteString(int nIndex)
{
    if (nIndex < 0 || nIndex >= count())
        return LB_ERR;
    delete takeItem(nIndex);
    const int nExtent = m_arrExtents[static_cast<std::size_t>(nIndex)];
    m_arrExtents.erase(m_arrExtents.begin() + nIndex);
    if (nExtent >= m_nLongestExtent)
        m_nLongestExtent = m_arrExtents.empty() ? 0 : *std::max_element(m_arrExtents.begin(), m_arrExtents.end());
    return count();
}

void CHorzListBox::ResetContent()
{
    clear();
    m_arrExtents.clear();
    m_nLongestExtent = 0;
}

QString CHorzListBox::GetText(int nIndex) const
{
    const QListWidgetItem* pItem = item(nIndex);
    return pItem ? pItem->text() : QString();
}

}  // namespace gridmorph
