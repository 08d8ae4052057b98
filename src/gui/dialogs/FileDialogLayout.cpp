#include "dialogs/FileDialogLayout.h"

#include <QApplication>
#include <QDateTime>
#include <QFileDialog>
#include <QFileSystemModel>
#include <QHeaderView>
#include <QLocale>
#include <QMimeDatabase>
#include <QPointer>
#include <QScreen>
#include <QSplitter>
#include <QStyle>
#include <QTimer>
#include <QTreeView>
#include <algorithm>

namespace gridmorph {

namespace {

// "*.JPG" becomes "*.[Jj][Pp][Gg]": file names on this system keep their letter case,
// and a map saved as site.jpg must show under the JPEG filter.
QString AnyCasePattern(const QString& strPattern)
{
    QString strResult;
    for (const QChar c : strPattern) {
        if (c.isLetter() && c.toLower() != c.toUpper())
            strResult += QStringLiteral("[%1%2]").arg(c.toUpper(), c.toLower());
        else
            strResult += c;
    }
    return strResult;
}

}  // namespace

QStringList QtFileFilters(const std::string& strFilter, bool bTypeExtensionFirst)
{
    const QStringList aPieces = QString::fromStdString(strFilter).split(QLatin1Char('|'));
    QStringList aFilters;
    for (qsizetype i = 0; i + 1 < aPieces.size(); i += 2) {
        const QString strName = aPieces[i].trimmed();
        if (strName.isEmpty())
            break;
        QStringList aPatterns;
        const QStringList aGiven = aPieces[i + 1].split(QLatin1Char(';'), Qt::SkipEmptyParts);
        if (bTypeExtensionFirst && !aGiven.isEmpty() && !aGiven.constFirst().contains(QLatin1Char(' ')))
            aPatterns << aGiven.constFirst().trimmed();
        for (const QString& strPattern : aGiven)
            // Qt splits a filter's patterns at white space: a blank inside a name (the
            // related world files of "my map.jpg") matches as any one character.
            aPatterns << AnyCasePattern(strPattern.trimmed()).replace(QLatin1Char(' '), QLatin1Char('?'));
        aFilters << QStringLiteral("%1 (%2)").arg(strName, aPatterns.join(QLatin1Char(' ')));
    }
    return aFilters;
}

int QtFilterEntry(const QStringList& aFilters, const QString& strChosen)
{
    const qsizetype nWhole = aFilters.indexOf(strChosen);
    if (nWhole >= 0)
        return static_cast<int>(nWhole);
    // The name is what comes before the patterns in brackets.
    for (qsizetype i = 0; i < aFilters.size(); ++i) {
        const qsizetype nOpen = aFilters[i].lastIndexOf(QStringLiteral(" ("));
        if (nOpen >= 0 && aFilters[i].left(nOpen).trimmed() == strChosen.trimmed())
            return static_cast<int>(i);
    }
    return -1;
}

namespace {

enum EColumn { kNameColumn = 0, kSizeColumn = 1, kTypeColumn = 2, kDateColumn = 3, kColumns = 4 };

QTreeView* DetailView(const QFileDialog& dialog) { return dialog.findChild<QTreeView*>(QStringLiteral("treeView")); }

// The widest of the texts in the view's font, with the room an item's text has around it.
int TextColumnWidth(const QTreeView& view, const QStringList& aTexts)
{
    const QFontMetrics metrics(view.font());
    int nWidest = 0;
    for (const QString& strText : aTexts)
        nWidest = std::max(nWidest, metrics.horizontalAdvance(strText));
    const int nMargin = view.style()->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, &view) + 1;
    return nWidest + 2 * nMargin + metrics.averageCharWidth();
}

// What the model writes into a column, at its widest: sizes just under each unit, the
// type names of the picture formats and of a folder, a date in every month.
QStringList SampleTexts(int nColumn)
{
    const QLocale locale = QLocale::system();
    QStringList aTexts;
    if (nColumn == kSizeColumn) {
        for (qint64 nBytes : {qint64(999), qint64(1024) * 1024 - 11, qint64(1024) * 1024 * 1024 - 11 * 1024,
                              qint64(1024) * 1024 * 1024 * 1024 - 11 * 1024 * 1024})
            aTexts << locale.formattedDataSize(nBytes);
    } else if (nColumn == kTypeColumn) {
        const QMimeDatabase mimeTypes;
        for (const char* pName : {"image/bmp", "image/jpeg", "image/gif", "image/tiff", "image/png"})
            aTexts << mimeTypes.mimeTypeForName(QString::fromLatin1(pName)).comment();
        aTexts << QStringLiteral("Folder");
    } else if (nColumn == kDateColumn) {
        for (int nMonth = 1; nMonth <= 12; ++nMonth)
            aTexts << locale.toString(QDateTime(QDate(2000, nMonth, 28), QTime(23, 59, 59)), QLocale::ShortFormat);
    }
    return aTexts;
}

void Widen(QTreeView& view, int nColumn, int nWidth)
{
    QHeaderView* pHeader = view.header();
    if (nColumn >= pHeader->count())
        return;
    nWidth = std::max(nWidth, pHeader->sectionSizeHint(nColumn));
    if (pHeader->sectionSize(nColumn) < nWidth)
        pHeader->resizeSection(nColumn, nWidth);
}

int ColumnsWidth(const QTreeView& view)
{
    int nWidth = 0;
    for (int nColumn = 0; nColumn < std::min<int>(kColumns, view.header()->count()); ++nColumn)
        nWidth += view.header()->sectionSize(nColumn);
    return nWidth;
}

// Once the dialog has been shown and laid out, widens it by what its file view lacks to
// show every column, as far as the screen allows; then goes.
class CShownWatch : public QObject {
public:
    explicit CShownWatch(QFileDialog& dialog) : QObject(&dialog), m_dialog(dialog) {}

protected:
    bool eventFilter(QObject* pObject, QEvent* pEvent) override
    {
        if (pObject == &m_dialog && pEvent->type() == QEvent::Show) {
            m_dialog.removeEventFilter(this);
            QTimer::singleShot(0, this, [this] {
                // The window it is in grows: the dialog itself, or the one it is part of.
                QWidget* pWindow = m_dialog.window();
                if (const QTreeView* pView = DetailView(m_dialog)) {
                    const int nLacking = ColumnsWidth(*pView) - pView->viewport()->width();
                    int nWidth = pWindow->width() + std::max(0, nLacking);
                    if (const QScreen* pScreen = pWindow->screen())
                        nWidth = std::min(nWidth, pScreen->availableGeometry().width());
                    if (nWidth > pWindow->width())
                        pWindow->resize(nWidth, pWindow->height());
                }
                deleteLater();
            });
        }
        return QObject::eventFilter(pObject, pEvent);
    }

private:
    QFileDialog& m_dialog;
};

}  // namespace

void FitFileDialogColumns(QFileDialog& dialog)
{
    QTreeView* pView = DetailView(dialog);
    if (!pView)
        return;
    for (int nColumn = kSizeColumn; nColumn < kColumns; ++nColumn)
        Widen(*pView, nColumn, TextColumnWidth(*pView, SampleTexts(nColumn)));
    // The texts of the folder shown: once it has been read and its rows are in the view.
    auto* pModel = dialog.findChild<QFileSystemModel*>();
    if (!pModel)
        return;
    QObject::connect(pModel, &QFileSystemModel::directoryLoaded, pView, [pView = QPointer<QTreeView>(pView)] {
        QTimer::singleShot(0, pView, [pView] {
            if (!pView)
                return;
            for (int nColumn = kSizeColumn; nColumn < kColumns; ++nColumn)
                Widen(*pView, nColumn, static_cast<const QAbstractItemView*>(pView.data())->sizeHintForColumn(nColumn));
        });
    });
}

QSize SensibleFileDialogSize(QFileDialog& dialog)
{
    QSize size = dialog.sizeHint();
    const QFontMetrics metrics(dialog.font());
    size.setHeight(std::max(size.height(), 36 * metrics.lineSpacing()));
    if (QTreeView* pView = DetailView(dialog)) {
        QHeaderView* pHeader = pView->header();
        // The name column as wide as about forty characters; the others as they are.
        if (pHeader->count() > kNameColumn && pHeader->sectionSize(kNameColumn) < 40 * metrics.averageCharWidth())
            pHeader->resizeSection(kNameColumn, 40 * metrics.averageCharWidth());
        // Beside the columns: the side bar, the view's frame and scroll bar, the margins.
        const int nBeside = 24 * metrics.averageCharWidth() + pView->style()->pixelMetric(QStyle::PM_ScrollBarExtent);
        size.setWidth(std::max(size.width(), ColumnsWidth(*pView) + nBeside));
        // What the guess of the side bar and margins missed is added once the dialog is
        // laid out on the screen.
        auto* pWatch = new CShownWatch(dialog);
        dialog.installEventFilter(pWatch);
    }
    if (const QScreen* pScreen = dialog.screen() ? dialog.screen() : QApplication::primaryScreen())
        size = size.boundedTo(pScreen->availableGeometry().size() * 9 / 10);
    return size;
}

QSize RememberedDialogSize(const QFileDialog& dialog, int nWidth, int nHeight)
{
    if (nWidth <= 0 || nHeight <= 0)
        return QSize();
    QSize size(nWidth, nHeight);
    if (const QScreen* pScreen = dialog.screen() ? dialog.screen() : QApplication::primaryScreen())
        size = size.boundedTo(pScreen->availableGeometry().size());
    return size;
}

}  // namespace gridmorph
