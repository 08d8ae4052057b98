#pragma once

#include <deque>
#include <string>
#include <vector>

#include "platform/Platform.h"
#include "platform/ProfileStore.h"

namespace gridmorph {

// A platform for tests: records every message box exactly, answers questions and file
// dialogs from a script, keeps the profile in memory and records progress. Anything the
// script did not foresee (a question without a scripted answer, a dialog without a
// scripted result) is recorded as a failure that the test then reports.
class CScriptedPlatform : public CPlatform {
public:
    struct SMessage {
        std::string strText;
        EMessageKind eKind;
        bool operator==(const SMessage&) const = default;
    };
    struct SProgressEvent {
        enum EType { Start, Set, End } eType;
        int nPosition;  // the lower end for Start
        int nUpper;     // Start only
        std::string strText;
    };

    // Script.
    void AnswerNextQuestion(EAnswer eAnswer) { m_aQuestionAnswers.push_back(eAnswer); }
    void AnswerNextFileDialog(SFileDialogResult result) { m_aFileDialogResults.push_back(std::move(result)); }
    // The next file dialog's accessory button is pressed once before it is answered; its
    // new text is kept in AccessoryText().
    void ClickNextAccessory() { m_bClickAccessory = true; }
    const std::string& AccessoryText() const { return m_strAccessoryText; }
    CProfileStore& Profile() { return m_profile; }

    // Record.
    const std::vector<SMessage>& Messages() const { return m_aMessages; }
    const std::vector<SFileDialogRequest>& FileDialogRequests() const { return m_aFileDialogRequests; }
    const std::vector<SProgressEvent>& ProgressEvents() const { return m_aProgressEvents; }
    const std::vector<std::string>& Failures() const { return m_aFailures; }
    int WaitCursorDepth() const { return m_nWaitCursorDepth; }
    int WaitCursorCount() const { return m_nWaitCursorCount; }
    void ClearRecord();
    // Answers and dialog results that were scripted but never asked for.
    size_t UnusedScript() const { return m_aQuestionAnswers.size() + m_aFileDialogResults.size(); }

    EAnswer MessageBox(const std::string& strText, EMessageKind eKind) override;
    SFileDialogResult GetOpenFileName(const SFileDialogRequest& request) override;
    SFileDialogResult GetSaveFileName(const SFileDialogRequest& request) override;
    int GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault) override;
    void WriteProfileInt(const std::string& strSection, const std::string& strEntry, int nValue) override;
    std::string GetProfileString(const std::string& strSection, const std::string& strEntry,
                                 const std::string& strDefault) override;
    void WriteProfileString(const std::string& strSection, const std::string& strEntry,
                            const std::string& strValue) override;
    void BeginWaitCursor() override;
    void EndWaitCursor() override;
    void StartProgress(int nLower, int nUpper, const std::string& strText) override;
    void SetProgress(int nPosition, const std::string& strText) override;
    void EndProgress() override;

private:
    SFileDialogResult NextFileDialog(const SFileDialogRequest& request);

    std::deque<EAnswer> m_aQuestionAnswers;
    std::deque<SFileDialogResult> m_aFileDialogResults;
    CProfileStore m_profile;
    std::vector<SMessage> m_aMessages;
    std::vector<SFileDialogRequest> m_aFileDialogRequests;
    bool m_bClickAccessory = false;
    std::string m_strAccessoryText;
    std::vector<SProgressEvent> m_aProgressEvents;
    std::vector<std::string> m_aFailures;
    int m_nWaitCursorDepth = 0;
    int m_nWaitCursorCount = 0;
};

}  // namespace gridmorph
