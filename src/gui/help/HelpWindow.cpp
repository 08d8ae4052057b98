#include "help/HelpWindow.h"

#include <QDialog>
#include <QFile>
#include <algorithm>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QListWidget>
#include <QScreen>
#include <QShortcut>
#include <QSplitter>
#include <QStyle>
#include <QTabWidget>
#include <QTextBrowser>
#include <QTextDocument>
#include <QToolButton>
#include <QVBoxLayout>

#include "shared/AppIcons.h"
#include "help/HelpTopics.h"

namespace gridmorph {
namespace {

QUrl PageUrl(const QString& strPage) { return QUrl(QLatin1String(kManualRoot) + strPage); }

// A page's words as a reader sees them, without the markup.
QString PlainTextOf(const QString& strFile)
{
    QFile file(QStringLiteral(":/manual/") + strFile);
    if (!file.open(QIODevice::ReadOnly))
        return QString();
    QTextDocument document;
    document.setHtml(QString::fromUtf8(file.readAll()));
    return document.toPlainText();
}

// The help of a dialog is no use narrower or lower than this.
constexpr QSize kSmallestBeside(360, 300);

}  // namespace

namespace help_placement {

QRect BesideOwner(const QRect& rectOwner, const QSize& sizeWanted, const QSize& sizeSmallest, const QRect& rectScreen)
{
    constexpr int kGap = 8;
    // The room on each side of the owner, within the screen.
    const int nRight = rectScreen.right() - rectOwner.right() - kGap;
    const int nLeft = rectOwner.left() - rectScreen.left() - kGap;
    const int nBelow = rectScreen.bottom() - rectOwner.bottom() - kGap;
    const int nAbove = rectOwner.top() - rectScreen.top() - kGap;
    const int nWidth = std::min(sizeWanted.width(), rectScreen.width());
    const int nHeight = std::min(sizeWanted.height(), rectScreen.height());
    // Level with the owner's top (or left) where the screen allows.
    const auto along = [](int nStart, int nLength, int nLow, int nHigh) {
        return std::clamp(nStart, nLow, std::max(nLow, nHigh - nLength + 1));
    };
    const auto beside = [&](int nSide, bool bRight) {
        const int w = std::min(nWidth, std::max(nSide, sizeSmallest.width()));
        const int x = bRight ? rectOwner.right() + 1 + kGap : rectOwner.left() - kGap - w;
        return QRect(along(x, w, rectScreen.left(), rectScreen.right()),
                     along(rectOwner.top(), nHeight, rectScreen.top(), rectScreen.bottom()), w, nHeight);
    };
    const auto aboveOrBelow = [&](int nSide, bool bBelow) {
        const int h = std::min(nHeight, std::max(nSide, sizeSmallest.height()));
        const int y = bBelow ? rectOwner.bottom() + 1 + kGap : rectOwner.top() - kGap - h;
        return QRect(along(rectOwner.left(), nWidth, rectScreen.left(), rectScreen.right()),
                     along(y, h, rectScreen.top(), rectScreen.bottom()), nWidth, h);
    };
    // Right of it, else left, where a useful width fits; else below or above; else on the
    // side with the most room, over as little of the owner as can be.
    if (nRight >= sizeSmallest.width() && nRight >= nLeft / 2)
        return beside(nRight, true);
    if (nLeft >= sizeSmallest.width())
        return beside(nLeft, false);
    if (nRight >= sizeSmallest.width())
        return beside(nRight, true);
    if (nBelow >= sizeSmallest.height() && nBelow >= nAbove / 2)
        return aboveOrBelow(nBelow, true);
    if (nAbove >= sizeSmallest.height())
        return aboveOrBelow(nAbove, false);
    const int nMost = std::max({nRight, nLeft, nBelow, nAbove});
    if (nMost == nRight)
        return beside(nRight, true);
    if (nMost == nLeft)
        return beside(nLeft, false);
    return nMost == nBelow ? aboveOrBelow(nBelow, true) : aboveOrBelow(nAbove, false);
}

}  // namespace help_placement

CHelpWindow::CHelpWindow(QWidget* pParent) : QWidget(pParent, Qt::Window)
{
    EnsureManualResources();
    setObjectName(QStringLiteral("helpWindow"));
    setWindowTitle(QStringLiteral("Gridmorph Help"));
    setWindowIcon(ProgramIcon());

    auto* pLayout = new QVBoxLayout(this);
    auto* pBar = new QHBoxLayout;
    auto makeButton = [this, pBar](QStyle::StandardPixmap eIcon, const QString& strText, const QString& strName) {
        auto* pButton = new QToolButton(this);
        pButton->setObjectName(strName);
        pButton->setIcon(style()->standardIcon(eIcon));
        pButton->setText(strText);
        pButton->setToolTip(strText);
        pButton->setToolButtonStyle(Qt::ToolButtonTextBesideIcon);
        pButton->setAutoRaise(true);
        pBar->addWidget(pButton);
        return pButton;
    };
    m_pBack = makeButton(QStyle::SP_ArrowBack, QStringLiteral("Back"), QStringLiteral("back"));
    m_pForward = makeButton(QStyle::SP_ArrowForward, QStringLiteral("Forward"), QStringLiteral("forward"));
    QToolButton* pHome = makeButton(QStyle::SP_DirHomeIcon, QStringLiteral("Contents"), QStringLiteral("home"));
    pBar->addStretch(1);
    pLayout->addLayout(pBar);

    auto* pSplitter = new QSplitter(Qt::Horizontal, this);
    m_pTabs = new QTabWidget(pSplitter);
    m_pContents = new QListWidget(m_pTabs);
    m_pContents->setObjectName(QStringLiteral("contents"));
    for (const SManualPage& page : ManualPages()) {
        auto* pItem = new QListWidgetItem(QString::fromUtf8(page.pTitle), m_pContents);
        pItem->setData(Qt::UserRole, QString::fromLatin1(page.pFile));
    }
    m_pTabs->addTab(m_pContents, QStringLiteral("Contents"));

    auto* pSearchPage = new QWidget(m_pTabs);
    auto* pSearchLayout = new QVBoxLayout(pSearchPage);
    auto* pSearchLabel = new QLabel(QStringLiteral("Look for:"), pSearchPage);
    m_pSearchField = new QLineEdit(pSearchPage);
    m_pSearchField->setObjectName(QStringLiteral("searchField"));
    m_pSearchField->setPlaceholderText(QStringLiteral("words, then Enter"));
    m_pSearchField->setClearButtonEnabled(true);
    pSearchLabel->setBuddy(m_pSearchField);
    m_pResults = new QListWidget(pSearchPage);
    m_pResults->setObjectName(QStringLiteral("searchResults"));
    pSearchLayout->addWidget(pSearchLabel);
    pSearchLayout->addWidget(m_pSearchField);
    pSearchLayout->addWidget(m_pResults, 1);
    m_pTabs->addTab(pSearchPage, QStringLiteral("Search"));

    m_pBrowser = new QTextBrowser(pSplitter);
    m_pBrowser->setObjectName(QStringLiteral("helpBrowser"));
    m_pBrowser->setOpenExternalLinks(true);
    pSplitter->addWidget(m_pTabs);
    pSplitter->addWidget(m_pBrowser);
    pSplitter->setStretchFactor(0, 0);
    pSplitter->setStretchFactor(1, 1);
    pSplitter->setSizes({220, 680});
    pLayout->addWidget(pSplitter, 1);

    connect(m_pBack, &QToolButton::clicked, m_pBrowser, &QTextBrowser::backward);
    connect(m_pForward, &QToolButton::clicked, m_pBrowser, &QTextBrowser::forward);
    connect(pHome, &QToolButton::clicked, this, [this] { ShowPage(QString::fromLatin1(ManualPages().front().pFile)); });
    connect(m_pBrowser, &QTextBrowser::backwardAvailable, m_pBack, &QToolButton::setEnabled);
    connect(m_pBrowser, &QTextBrowser::forwardAvailable, m_pForward, &QToolButton::setEnabled);
    connect(m_pBrowser, &QTextBrowser::sourceChanged, this, &CHelpWindow::SelectContentsEntry);
    connect(m_pContents, &QListWidget::itemActivated, this,
            [this](QListWidgetItem* pItem) { ShowPage(pItem->data(Qt::UserRole).toString()); });
    connect(m_pContents, &QListWidget::itemClicked, this,
            [this](QListWidgetItem* pItem) { ShowPage(pItem->data(Qt::UserRole).toString()); });
    connect(m_pSearchField, &QLineEdit::returnPressed, this, &CHelpWindow::RunSearch);
    auto openResult = [this](QListWidgetItem* pItem) {
        if (pItem->data(Qt::UserRole).toString().isEmpty())
            return;
        ShowPage(pItem->data(Qt::UserRole).toString());
        // The first of the words looked for, marked on the page.
        const QStringList aWords = m_pSearchField->text().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (!aWords.isEmpty())
            m_pBrowser->find(aWords.front());
    };
    connect(m_pResults, &QListWidget::itemActivated, this, openResult);
    connect(m_pResults, &QListWidget::itemClicked, this, openResult);
    auto* pFind = new QShortcut(QKeySequence::Find, this);
    connect(pFind, &QShortcut::activated, this, [this] {
        m_pTabs->setCurrentIndex(1);
        m_pSearchField->setFocus();
        m_pSearchField->selectAll();
    });
    auto* pClose = new QShortcut(QKeySequence(Qt::Key_Escape), this);
    connect(pClose, &QShortcut::activated, this, &QWidget::close);
    m_pBack->setEnabled(false);
    m_pForward->setEnabled(false);

    const QScreen* pScreen = screen() ? screen() : QGuiApplication::primaryScreen();
    const QSize sizeWanted(960, 720);
    resize(pScreen ? sizeWanted.boundedTo(pScreen->availableGeometry().size() * 9 / 10) : sizeWanted);
}

void CHelpWindow::ShowPage(const QString& strPage)
{
    const QUrl url = PageUrl(strPage);
    if (m_pBrowser->source().adjusted(QUrl::RemoveFragment) == url.adjusted(QUrl::RemoveFragment) &&
        url.hasFragment())
        m_pBrowser->scrollToAnchor(url.fragment());
    m_pBrowser->setSource(url);
    if (!m_bPlaced && parentWidget()) {
        m_bPlaced = true;
        const QWidget* pOwner = parentWidget()->window();
        const QScreen* pScreen = pOwner->screen();
        if (qobject_cast<const QDialog*>(pOwner) && pScreen) {
            // A dialog waits for its user: its help goes beside it, not over it. The window
            // frame is taken to be as wide as the dialog's.
            const QRect rectFrame = pOwner->frameGeometry(), rectInside = pOwner->geometry();
            const QMargins frame(rectInside.left() - rectFrame.left(), rectInside.top() - rectFrame.top(),
                                 rectFrame.right() - rectInside.right(), rectFrame.bottom() - rectInside.bottom());
            const QSize sizeFrame(frame.left() + frame.right(), frame.top() + frame.bottom());
            const QRect rectPlace = help_placement::BesideOwner(rectFrame, size() + sizeFrame,
                                                                minimumSizeHint().expandedTo(kSmallestBeside) + sizeFrame,
                                                                pScreen->availableGeometry());
            resize(rectPlace.size() - sizeFrame);
            move(rectPlace.topLeft());
        } else {
            // Over the middle of the window it explains, kept on its screen.
            QRect rect(QPoint(0, 0), size());
            rect.moveCenter(pOwner->frameGeometry().center());
            if (pScreen) {
                const QRect rectScreen = pScreen->availableGeometry();
                rect.moveLeft(std::clamp(rect.left(), rectScreen.left(), std::max(rectScreen.left(), rectScreen.right() - rect.width())));
                rect.moveTop(std::clamp(rect.top(), rectScreen.top(), std::max(rectScreen.top(), rectScreen.bottom() - rect.height())));
            }
            move(rect.topLeft());
        }
    }
    if (isMinimized())
        setWindowState(windowState() & ~Qt::WindowMinimized);
    show();
    raise();
    activateWindow();
}

QString CHelpWindow::CurrentPage() const
{
    const QString strUrl = m_pBrowser->source().toString();
    const QString strRoot = QLatin1String(kManualRoot);
    return strUrl.startsWith(strRoot) ? strUrl.mid(strRoot.size()) : strUrl;
}

QStringList CHelpWindow::Search(const QString& strWords) const
{
    const QStringList aWords = strWords.split(QLatin1Char(' '), Qt::SkipEmptyParts);
    QStringList aFound;
    if (aWords.isEmpty())
        return aFound;
    for (const SManualPage& page : ManualPages()) {
        const QString strText = PlainTextOf(QString::fromLatin1(page.pFile));
        bool bAll = true;
        for (const QString& strWord : aWords)
            bAll = bAll && strText.contains(strWord, Qt::CaseInsensitive);
        if (bAll)
            aFound << QString::fromLatin1(page.pFile);
    }
    return aFound;
}

void CHelpWindow::RunSearch()
{
    m_pResults->clear();
    const QStringList aFound = Search(m_pSearchField->text());
    for (const SManualPage& page : ManualPages())
        if (aFound.contains(QString::fromLatin1(page.pFile))) {
            auto* pItem = new QListWidgetItem(QString::fromUtf8(page.pTitle), m_pResults);
            pItem->setData(Qt::UserRole, QString::fromLatin1(page.pFile));
        }
    if (aFound.isEmpty())
        new QListWidgetItem(QStringLiteral("(no page has these words)"), m_pResults);
}

void CHelpWindow::SelectContentsEntry(const QUrl& url)
{
    // The page being shown, from the signal: the browser's source() may still name the last.
    const QString strRoot = QLatin1String(kManualRoot);
    const QString strUrl = url.adjusted(QUrl::RemoveFragment).toString();
    const QString strFile = strUrl.startsWith(strRoot) ? strUrl.mid(strRoot.size()) : strUrl;
    for (int i = 0; i < m_pContents->count(); ++i)
        if (m_pContents->item(i)->data(Qt::UserRole).toString() == strFile)
            m_pContents->setCurrentRow(i);
}

}  // namespace gridmorph
