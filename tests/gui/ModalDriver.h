#pragma once

#include <gtest/gtest.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>
#include <functional>
#include <memory>

namespace gridmorph::test {

// Runs fnDrive on the next modal dialog of type TDialog once its event loop runs, so a
// test can drive a dialog that a command opens with exec(). fnDrive must end the dialog
// (accept, reject or a button that closes it). A dialog that never appears fails the test.
template <typename TDialog>
void WhenModal(std::function<void(TDialog&)> fnDrive)
{
    auto* pTimer = new QTimer(qApp);
    pTimer->setInterval(10);
    auto pElapsed = std::make_shared<QElapsedTimer>();
    pElapsed->start();
    QObject::connect(pTimer, &QTimer::timeout, pTimer, [pTimer, pElapsed, fnDrive] {
        if (auto* pDialog = qobject_cast<TDialog*>(QApplication::activeModalWidget())) {
            pTimer->stop();
            pTimer->deleteLater();
            fnDrive(*pDialog);
        } else if (pElapsed->elapsed() > 5000) {
            pTimer->stop();
            pTimer->deleteLater();
            ADD_FAILURE() << "no modal " << TDialog::staticMetaObject.className() << " appeared";
        }
    });
    pTimer->start();
}

}  // namespace gridmorph::test
