#include "platform/ScriptedPlatform.h"

namespace gridmorph {

void CScriptedPlatform::ClearRecord()
{
    m_aMessages.clear();
    m_aFileDialogRequests.clear();
    m_aProgressEvents.clear();
    m_aFailures.clear();
}

EAnswer CScriptedPlatform::MessageBox(const std::string& strText, EMessageKind eKind)
{
    m_aMessages.push_back({strText, eKind});
    if (eKind == EMessageKind::Warning || eKind == EMessageKind::Information)
        return EAnswer::Ok;
    if (m_aQuestionAnswers.empty()) {
        m_aFailures.push_back("unexpected question: " + strText);
        return eKind == EMessageKind::QuestionYesNoCancel ? EAnswer::Cancel : EAnswer::No;
    }
    EAnswer eAnswer = m_aQuestionAnswers.front();
    m_aQuestionAnswers.pop_front();
    return eAnswer;
}

SFileDialogResult CScriptedPlatform::NextFileDialog(const SFileDialogRequest& request)
{
    m_aFileDialogRequests.push_back(request);
    if (m_bClickAccessory && request.accessory.fnClicked) {
        m_bClickAccessory = false;
        m_strAccessoryText = request.accessory.fnClicked();
    }
    if (m_aFileDialogResults.empty()) {
        m_aFailures.push_back("unexpected file dialog: " + request.strTitle);
        return {};
    }
    SFileDialogResult result = m_aFileDialogResults.front();
    m_aFileDialogResults.pop_front();
    return result;
}

SFileDialogResult CScriptedPlatform::GetOpenFileName(const SFileDialogRequest& request)
{
    return NextFileDialog(request);
}

SFileDialogResult CScriptedPlatform::GetSaveFileName(const SFileDialogRequest& request)
{
    return NextFileDialog(request);
}

int CScriptedPlatform::GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault)
{
    return m_profile.GetInt(strSection, strEntry, nDefault);
}

void CScriptedPlatform::WriteProfileInt(const std::string& strSection, const std::string& strEntry, int nValue)
{
    m_profile.Write(strSection, strEntry, std::to_string(nValue));
}

std::string CScriptedPlatform::GetProfileString(const std::string& strSection, const std::string& strEntry,
                                                const std::string& strDefault)
{
    return m_profile.GetString(strSection, strEntry, strDefault);
}

void CScriptedPlatform::WriteProfileString(const std::string& strSection, const std::string& strEntry,
                                           const std::string& strValue)
{
    m_profile.Write(strSection, strEntry, strValue);
}

void CScriptedPlatform::BeginWaitCursor()
{
    ++m_nWaitCursorDepth;
    ++m_nWaitCursorCount;
}

void CScriptedPlatform::EndWaitCursor()
{
    if (m_nWaitCursorDepth == 0)
        m_aFailures.push_back("wait cursor ended more often than begun");
    else
        --m_nWaitCursorDepth;
}

void CScriptedPlatform::StartProgress(int nLower, int nUpper, const std::string& strText)
{
    m_aProgressEvents.push_back({SProgressEvent::Start, nLower, nUpper, strText});
}

void CScriptedPlatform::SetProgress(int nPosition, const std::string& strText)
{
    m_aProgressEvents.push_back({SProgressEvent::Set, nPosition, 0, strText});
}

void CScriptedPlatform::EndProgress() { m_aProgressEvents.push_back({SProgressEvent::End, 0, 0, {}}); }

}  // namespace gridmorph
