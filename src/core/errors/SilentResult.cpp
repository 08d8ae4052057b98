#include "errors/SilentResult.h"

#include "errors/ErrorText.h"

namespace gridmorph {

std::string ComposeErrorMessage(int nErrorNumber, const std::string& strDetail)
{
    if (nErrorNumber == ERR_MESSAGE_IS_DETAIL)
        return strDetail;
    if (nErrorNumber < 1)
        return "There is no error number registered in CDIBImage." + strDetail;
    // A detail that does not start a line of its own is not run into the number's text.
    if (!strDetail.empty() && strDetail[0] != '\n')
        return GetErrorText(nErrorNumber) + "\n" + strDetail;
    return GetErrorText(nErrorNumber) + strDetail;
}

namespace {

// The few words a one-line failure adds to the error number's text, from the detail a box
// has told: a load's reason ("\nResult:8004a003 - PNG: the file is damaged: ..."), and
// for a name of no known picture type, that it is none (the box names only the file).
std::string FailureReason(int nErrorNumber, const std::string& strDetail)
{
    if (nErrorNumber == ERR_LOAD_FAILED) {
        const std::string strLead = "\nResult:";
        const std::size_t nDash = strDetail.find(" - ");
        if (strDetail.rfind(strLead, 0) == 0 && nDash != std::string::npos)
            return strDetail.substr(nDash + 3);
        return std::string();
    }
    if (nErrorNumber == ERR_TYPE_NOT_RECOGNISED) {
        const std::size_t nName = strDetail.find("file name:\n");
        if (nName == std::string::npos)
            return std::string();
        const std::string strName = strDetail.substr(nName + 11);
        const std::size_t nSlash = strName.find_last_of('/');
        const std::size_t nDot = strName.find_last_of('.');
        const bool bExtension = nDot != std::string::npos && (nSlash == std::string::npos || nDot > nSlash);
        std::string strExtension = bExtension ? strName.substr(nDot) : std::string();
        for (char& c : strExtension)
            c = static_cast<char>(c >= 'A' && c <= 'Z' ? c - 'A' + 'a' : c);
        std::string strReason = strName + " is not a picture file: pictures are BMP, JPEG, GIF, TIFF and PNG files, "
                                          "known by their names' extensions (.bmp, .jpg, .jpeg, .jpe, .jfif, .gif, "
                                          ".tif, .tiff, .png)";
        if (strExtension == ".points")
            strReason += "; a .points file holds locators, which rectify reads with --points";
        else if (!bExtension)
            strReason += ", and this name has none";
        return strReason + ".";
    }
    return std::string();
}

}  // namespace

std::string SSilentResult::FullText() const
{
    return ComposeErrorMessage(nErrorNumber, strErrorText);
}

std::string SSilentResult::FailureLine() const
{
    if (aNotices.empty() || nErrorNumber == ERR_MESSAGE_IS_DETAIL)
        return FullText();
    const std::string strReason = FailureReason(nErrorNumber, strErrorText);
    return strReason.empty() ? GetErrorText(nErrorNumber) : GetErrorText(nErrorNumber) + " " + strReason;
}

void SSilentResult::Tell() const
{
    for (const SNotice& notice : aNotices)
        GetPlatform().MessageBox(notice.strText, notice.eKind);
}

}  // namespace gridmorph
