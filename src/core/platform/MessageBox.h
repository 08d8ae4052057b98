#pragma once

#include <string>

namespace gridmorph {

// The progress panel as the core sees it: constructed on the caller's stack, started
// once before a row loop, stepped once per row, ended after the loop. Destroying it
// ends the progress too, so a loop left early on an error leaves no panel behind.
class CMessageBox {
public:
    CMessageBox() = default;
    ~CMessageBox();
    CMessageBox(const CMessageBox&) = delete;
    CMessageBox& operator=(const CMessageBox&) = delete;

    void StartProgress(int nLower, int nUpper, const std::string& strText);
    // Moves the bar; a non-empty text replaces the panel's line. Returns the previous position.
    int SetProgress(int nPosition, const std::string& strText);
    int SetProgress(int nPosition);
    void EndProgress();

private:
    bool m_bActive = false;
    int m_nPosition = 0;
};

}  // namespace gridmorph
