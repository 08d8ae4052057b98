#pragma once

#include <cstdio>

#include "platform/Platform.h"
#include "platform/ProfileStore.h"

namespace gridmorph {

// The platform of the command-line tool: messages go to standard error, questions
// take the answer the tool was told to give (No unless told otherwise), there are
// no dialogs, the profile lives in memory, and progress is a bar on a terminal.
class CHeadlessPlatform : public CPlatform {
public:
    explicit CHeadlessPlatform(std::FILE* pMessageStream = stderr);

    // The answer given to every question (Yes for a tool run with --yes).
    void SetQuestionAnswer(EAnswer eAnswer) { m_eQuestionAnswer = eAnswer; }
    void SetQuiet(bool bQuiet) { m_bQuiet = bQuiet; }

    EAnswer MessageBox(const std::string& strText, EMessageKind eKind) override;
    SFileDialogResult GetOpenFileName(const SFileDialogRequest& request) override;
    SFileDialogResult GetSaveFileName(const SFileDialogRequest& request) override;
    int GetProfileInt(const std::string& strSection, const std::string& strEntry, int nDefault) override;
    void WriteProfileInt(const std::string& strSection, const std::string& strEntry, int nValue) override;
    std::string GetProfileString(const std::string& strSection, const std::string& strEntry,
                                 const std::string& strDefault) override;
    void WriteProfileString(const std::string& strSection, const std::string& strEntry,
                            const std::string& strValue) override;
    void BeginWaitCursor() override {}
    void EndWaitCursor() override {}
    void StartProgress(int nLower, int nUpper, const std::string& strText) override;
    void SetProgress(int nPosition, const std::string& strText) override;
    void EndProgress() override;

private:
    void DrawBar(int nPosition);

    std::FILE* m_pMessageStream;
    EAnswer m_eQuestionAnswer = EAnswer::No;
    bool m_bQuiet = false;
    CProfileStore m_profile;
    bool m_bProgressOnTerminal = false;
    bool m_bProgressActive = false;
    int m_nLower = 0;
    int m_nUpper = 0;
    int m_nLastPercent = -1;
    std::string m_strProgressText;
};

}  // namespace gridmorph
