#pragma once

#include <QApplication>
#include <QDeadlineTimer>
#include <QDialog>
#include <QDialogButtonBox>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QTimer>
#include <QWidget>
#include <QtTest>
#include <functional>
#include <memory>

// Drives a dialog that runs modally (exec() or a static flow around it): a zero-delay timer looks for the
// active modal widget of the wanted class while the modal loop spins, and runs the step on it once.
// A step that fails a QVERIFY rejects the dialog, so a failing test never hangs in the modal loop.
namespace ModalDriver {

// Returns a flag that turns true once the step has run.
template <typename Widget> std::shared_ptr<bool> whenModal(std::function<void(Widget*)> step, int timeoutMs = 30000)
{
    auto ran = std::make_shared<bool>(false);
    auto* timer = new QTimer(qApp);
    timer->setInterval(0);
    const QDeadlineTimer deadline(timeoutMs);
    QObject::connect(timer, &QTimer::timeout, timer, [timer, step, deadline, ran] {
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
        *ran = true;
        step(modal);
        auto* dialog = qobject_cast<QDialog*>(modal);
        if (QTest::currentTestFailed() && dialog && dialog->isVisible()) {
            dialog->reject();
        }
    });
    timer->start();
    return ran;
}

template <typename T> T* child(QWidget* parent, const char* name)
{
    return parent->findChild<T*>(QLatin1String(name));
}

inline void press(QWidget* dialog, QDialogButtonBox::StandardButton which)
{
    QTest::mouseClick(child<QDialogButtonBox>(dialog, "buttonBox")->button(which), Qt::LeftButton);
}

inline void typeInto(QLineEdit* input, const QString& text)
{
    input->clear();
    QTest::keyClicks(input, text);
}

inline void typeInto(QSpinBox* input, const QString& text)
{
    QTest::keyClick(input, Qt::Key_A, Qt::ControlModifier);
    QTest::keyClick(input, Qt::Key_Backspace);
    QTest::keyClicks(input, text);
}

// Types into the named line edit or spin box of a dialog.
inline void type(QWidget* dialog, const char* name, const QString& text)
{
    if (auto* spin = child<QSpinBox>(dialog, name)) {
        typeInto(spin, text);
    } else {
        typeInto(child<QLineEdit>(dialog, name), text);
    }
}

} // namespace ModalDriver
