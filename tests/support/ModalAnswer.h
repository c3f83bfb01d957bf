// Answers the modal window a test opens, for widget tests only: the tests wait inside exec(),
// so the answer has to come from a timer.
#pragma once

#include <QApplication>
#include <QDialog>
#include <QTimer>
#include <QWidget>

#include <functional>

// Acts on the modal window as soon as it is open. A window still open long after is ended so
// that a wrong answer fails the test instead of hanging it.
class TModalAnswer {
public:
    explicit TModalAnswer(std::function<void(QWidget*)> action) : FAction(std::move(action))
    {
        FPoll.setInterval(5);
        QObject::connect(&FPoll, &QTimer::timeout, [this] {
            QWidget* modal = QApplication::activeModalWidget();
            if (modal == nullptr || !modal->isVisible()) {
                return;
            }
            FPoll.stop();
            FAction(modal);
        });
        FWatchdog.setSingleShot(true);
        FWatchdog.setInterval(30000);
        QObject::connect(&FWatchdog, &QTimer::timeout, [this] {
            FWatchdogFired = true;
            if (auto* dialog = qobject_cast<QDialog*>(QApplication::activeModalWidget())) {
                dialog->done(0);
            }
        });
        FPoll.start();
        FWatchdog.start();
    }

    TModalAnswer(const TModalAnswer&) = delete;
    TModalAnswer& operator=(const TModalAnswer&) = delete;

    bool WatchdogFired() const { return FWatchdogFired; }

private:
    std::function<void(QWidget*)> FAction;
    QTimer FPoll;
    QTimer FWatchdog;
    bool FWatchdogFired = false;
};
