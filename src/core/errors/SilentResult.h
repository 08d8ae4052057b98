#pragma once

#include <string>
#include <vector>

#include "platform/Platform.h"

namespace gridmorph {

// An error's whole message: the error number's text and the detail after it (the detail
// alone for ERR_MESSAGE_IS_DETAIL).
std::string ComposeErrorMessage(int nErrorNumber, const std::string& strDetail);

// A message box an operation would raise, kept to be shown later (or printed).
struct SNotice {
    EMessageKind eKind = EMessageKind::Warning;
    std::string strText;
};

// What an operation that shows nothing did: the error number it ended with (0 when it
// succeeded) and its detail, and the boxes the window raises for it, in their order.
// The core decides silently and returns this; the window's functions of the old names
// tell it (Tell), and the command line prints it.
struct SSilentResult {
    int nErrorNumber = 0;
    std::string strErrorText;       // the detail after the error number's own text
    std::vector<SNotice> aNotices;  // the boxes, in the order they are raised

    bool Succeeded() const { return nErrorNumber == 0; }
    // The whole message: the error number's text followed by the detail.
    std::string FullText() const;
    // One line on a failure for a reader who has seen the boxes: the error number's own
    // text when a box told the detail already (with the reason of a load that failed, or
    // why a name is no picture file's), else the whole message.
    std::string FailureLine() const;
    // Raises the boxes through the platform, in order.
    void Tell() const;
};

}  // namespace gridmorph
