#include "support/Unprivileged.h"

#include <grp.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>

namespace gridmorph::test {

std::optional<std::string> RunWithoutPrivileges(const std::function<std::string()>& fnBody)
{
    if (geteuid() != 0)
        return fnBody();
    int aPipe[2];
    if (pipe(aPipe) != 0)
        return std::nullopt;
    std::fflush(nullptr);
    const pid_t nChild = fork();
    if (nChild < 0) {
        close(aPipe[0]);
        close(aPipe[1]);
        return std::nullopt;
    }
    if (nChild == 0) {
        close(aPipe[0]);
        constexpr uid_t kNobody = 65534;
        if (setgroups(0, nullptr) != 0 || setgid(kNobody) != 0 || setuid(kNobody) != 0)
            _exit(3);
        const std::string strResult = fnBody();
        const char* p = strResult.data();
        std::size_t nLeft = strResult.size();
        while (nLeft > 0) {
            const ssize_t nWritten = write(aPipe[1], p, nLeft);
            if (nWritten <= 0)
                _exit(4);
            p += nWritten;
            nLeft -= static_cast<std::size_t>(nWritten);
        }
        _exit(0);  // no test teardown, no destructors of the parent's objects
    }
    close(aPipe[1]);
    std::string strResult;
    char szBuffer[4096];
    ssize_t nRead = 0;
    while ((nRead = read(aPipe[0], szBuffer, sizeof szBuffer)) > 0)
        strResult.append(szBuffer, static_cast<std::size_t>(nRead));
    close(aPipe[0]);
    int nStatus = 0;
    waitpid(nChild, &nStatus, 0);
    if (WIFEXITED(nStatus) && WEXITSTATUS(nStatus) == 3)
        return std::nullopt;  // the switch to "nobody" was refused
    if (!WIFEXITED(nStatus) || WEXITSTATUS(nStatus) != 0)
        return "the unprivileged child process ended abnormally (status " + std::to_string(nStatus) + ")";
    return strResult;
}

CScopedMode::CScopedMode(std::string strPath, unsigned nMode) : m_strPath(std::move(strPath))
{
    struct stat info {};
    if (stat(m_strPath.c_str(), &info) == 0)
        m_nPreviousMode = info.st_mode & 07777;
    chmod(m_strPath.c_str(), nMode);
}

CScopedMode::~CScopedMode() { chmod(m_strPath.c_str(), m_nPreviousMode); }

}  // namespace gridmorph::test
