#pragma once

#include <functional>
#include <optional>
#include <string>

namespace gridmorph::test {

// Runs fnBody as a user whom file permissions bind: in this process when the tests do
// not run as root, otherwise in a child process that has switched to the user "nobody"
// (root passes every permission check, so a read-only folder would prove nothing). The
// body returns what went wrong ("" when everything was as expected); that text comes
// back. std::nullopt when running as root and the switch is not possible here.
std::optional<std::string> RunWithoutPrivileges(const std::function<std::string()>& fnBody);

// Folder permissions for one scope (the previous ones come back afterwards, so the
// temporary folder can be removed even when an assertion fails).
class CScopedMode {
public:
    CScopedMode(std::string strPath, unsigned nMode);
    ~CScopedMode();
    CScopedMode(const CScopedMode&) = delete;
    CScopedMode& operator=(const CScopedMode&) = delete;

private:
    std::string m_strPath;
    unsigned m_nPreviousMode = 0;
};

}  // namespace gridmorph::test
