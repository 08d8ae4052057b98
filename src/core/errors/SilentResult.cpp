#include "errors/SilentResult.h"

#include "errors/ErrorText.h"

namespace gridmorph {

std::string ComposeErrorMessage(int nErrorNumber, const std::string& strDetail)
{
    if (nErrorNumber == ERR_MESSAGE_IS_DETAIL)
        return strDetail;
    if (nErrorNumber < 1)
        return "There is no error number registered in CDIBImage." + strDetail;
    return GetErrorText(nErrorNumber) + strDetail;
}

std::string SSilentResult::FullText() const
{
    return ComposeErrorMessage(nErrorNumber, strErrorText);
}

std::string SSilentResult::FailureLine() const
{
    return !aNotices.empty() && nErrorNumber != ERR_MESSAGE_IS_DETAIL ? GetErrorText(nErrorNumber) : FullText();
}

void SSilentResult::Tell() const
{
    for (const SNotice& notice : aNotices)
        GetPlatform().MessageBox(notice.strText, notice.eKind);
}

}  // namespace gridmorph
