#pragma once

#include <QSize>
#include <QString>
#include <QStringList>
#include <string>

class QFileDialog;

namespace gridmorph {

// "Name|*.A;*.B|Name2|*.C|" as Qt file-dialog filters. Each pattern matches its extension
// in any letter case ("*.JPG" also shows site.jpg and Site.Jpg).
// With bTypeExtensionFirst each entry starts with its first pattern as written ("*.PNG"),
// the pattern Qt's save dialog takes the type's extension from when the user changes the
// type of a name that already has an extension (map.BMP becomes map.PNG).
QStringList QtFileFilters(const std::string& strFilter, bool bTypeExtensionFirst = false);

// The 0-based entry of aFilters that a Qt file dialog reports as chosen: its whole text,
// or only its name (what the dialog reports when the patterns are hidden); -1 for none.
int QtFilterEntry(const QStringList& aFilters, const QString& strChosen);

// Qt's own file dialog opens at a size and with column widths made for a smaller font
// than a desktop's: the Size, Type and Date Modified columns cut their texts ("434...KiB").

// Widens the Size, Type and Date Modified columns of the dialog's detail view to the
// widest texts they can show in the view's font (sample sizes, type names and dates of the
// user's locale) and, whenever a folder has been read, to the texts it shows. A column
// already wider (the user's own width, remembered by Qt) keeps its width.
void FitFileDialogColumns(QFileDialog& dialog);

// A size for the dialog that shows its side bar and every column at those widths (the
// name column about forty characters wide) and about twenty-five lines of files, no smaller
// than the dialog's own size hint and within the screen's available area. What lies beside
// the file view (side bar, margins) is estimated; once the dialog is shown, it widens itself
// by what the estimate missed.
QSize SensibleFileDialogSize(QFileDialog& dialog);

// A remembered size brought within the screen's available area; an empty size when
// there is none (either side 0 or less).
QSize RememberedDialogSize(const QFileDialog& dialog, int nWidth, int nHeight);

}  // namespace gridmorph
