#pragma once

#include <QSize>

class QFileDialog;

namespace gridmorph {

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
