#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <functional>

// Drives a dialog that runs modally (exec() or a static flow around it): a zero-delay timer looks for the
// active modal widget of the wanted class while the modal loop spins, and runs the step on it once.
// A step that fails a QVERIFY rejects the dialog, so a failing test never hangs in the modal loop.
namespace ModalDriver {

template <typename Widget> void whenModal(std::function<void(Widget*)> step, int timeoutMs = 30000)
{
    auto* timer = new QTimer(qApp);
    timer->setInterval(0);
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step, deadline] {
        auto* modal = qobject_cast<Widget*>(QApplication::activeModalWidget());
        if (!modal || !modal->isVisible()) {
            if (deadline.hasExpired()) {
                timer->stop();
                timer->deleteLater();
            }
            return;
        }
        timer->stop();
        timer->deleteLater();
        step(modal);
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (QTest::currentTestFailed() && dialog && dialog->isVisible()) {
            dialog->reject();
        }
    });
    timer->start();
}

} // namespace ModalDriver
