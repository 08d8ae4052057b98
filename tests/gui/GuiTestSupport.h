#pragma once

#include <QApplication>
#include <QStringList>
#include <memory>

#include "app/OrvexApp.h"
#include "app/OrvexFrame.h"
#include "app/OrvexR4Doc.h"
#include "support/TestSupport.h"

namespace gridmorph::test {

// A started program for one test, its boxes, dialogs and settings going through the
// scripted platform.
class CAppTest : public CPlatformTest {
protected:
    ~CAppTest() override
    {
        // Nothing unsaved may ask a question while the test's program is taken down.
        if (m_pApp && m_pApp->Document()) {
            m_pApp->Document()->Document().SetModifiedFlag(false);
            m_pApp->Document()->Document().SetTransformedModified(false);
        }
    }
    bool Start(const QStringList& aArguments = {QStringLiteral("gridmorph")})
    {
        m_pApp = std::make_unique<COrvexApp>(&m_platform);
        return m_pApp->InitInstance(aArguments);
    }
    COrvexFrame& Frame() { return *m_pApp->Frame(); }
    CMapDocument& Document() { return m_pApp->Document()->Document(); }

    CTempFolder m_folder;
    std::unique_ptr<COrvexApp> m_pApp;
};

}  // namespace gridmorph::test
