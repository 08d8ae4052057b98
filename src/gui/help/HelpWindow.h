#pragma once

#include <QRect>
#include <QSize>
#include <QUrl>
#include <QWidget>

class QLineEdit;
class QListWidget;
class QTabWidget;
class QTextBrowser;
class QToolButton;

namespace gridmorph {

namespace help_placement {

// Where the help of a dialog goes (frame rectangles, screen pixels): beside rectOwner and
// within rectScreen, as large as sizeWanted where there is room and at least sizeSmallest.
// The right side is taken first, then the left, then below and above; when none has room
// for sizeSmallest, the side with the most room, over as little of the owner as can be.
QRect BesideOwner(const QRect& rectOwner, const QSize& sizeWanted, const QSize& sizeSmallest, const QRect& rectScreen);

}  // namespace help_placement

// The manual's window: the contents list and a search on the left, the page on the
// right, Back and Forward above. It shows the manual bundled inside the program.
class CHelpWindow : public QWidget {
    Q_OBJECT
public:
    explicit CHelpWindow(QWidget* pParent = nullptr);

    // Shows a page of the manual ("workflow.html#apply") and brings the window forward.
    void ShowPage(const QString& strPage);
    // The page shown, as ShowPage names it.
    QString CurrentPage() const;
    // The pages whose text holds every word of strWords (any letter case), in contents order.
    QStringList Search(const QString& strWords) const;

    QTextBrowser* Browser() const { return m_pBrowser; }
    QLineEdit* SearchField() const { return m_pSearchField; }
    QListWidget* SearchResults() const { return m_pResults; }
    QListWidget* Contents() const { return m_pContents; }

private:
    void RunSearch();
    void SelectContentsEntry(const QUrl& url);

    QTextBrowser* m_pBrowser = nullptr;
    QTabWidget* m_pTabs = nullptr;
    QListWidget* m_pContents = nullptr;
    QLineEdit* m_pSearchField = nullptr;
    QListWidget* m_pResults = nullptr;
    QToolButton* m_pBack = nullptr;
    QToolButton* m_pForward = nullptr;
    bool m_bPlaced = false;
};

}  // namespace gridmorph
