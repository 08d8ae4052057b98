#pragma once

#include <QListWidget>
#include <vector>

namespace gridmorph {

// A list of one-line texts (file paths) whose horizontal scroll range is the width of its
// widest item, so that a long path can be scrolled into view: each item's width is
// measured in the list's font as it is added and dropped again when it is deleted.
class CHorzListBox : public QListWidget {
public:
    // The errors of the list operations.
    static constexpr int LB_ERR = -1;

    explicit CHorzListBox(QWidget* pParent = nullptr);

    // Appends a text; returns its index.
    int AddString(const QString& strText);
    // Inserts a text before nIndex (-1 or the count: at the end); returns its index, or
    // LB_ERR for an index outside the list.
    int InsertString(int nIndex, const QString& strText);
    // Deletes an item; returns the number of items left, or LB_ERR for an index outside
    // the list.
    int DeleteString(int nIndex);
    // Empties the list.
    void ResetContent();
    int GetCount() const { return count(); }
    QString GetText(int nIndex) const;
    // The horizontal extent: the width of the widest item, 0 when empty.
    int GetHorizontalExtent() const { return m_nLongestExtent; }

    // Width in pixels of each item, in item order, and the largest of them.
    std::vector<int> m_arrExtents;
    int m_nLongestExtent = 0;

private:
    // The pixel width of a text in the list's font plus a margin of 3 pixels each side.
    int MeasureText(const QString& strText) const;
    void InsertNewExtent(int nIndex, const QString& strText);
    int RowHeight();

    int m_nRowHeight = 0;
};

}  // namespace gridmorph
