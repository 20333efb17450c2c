#pragma once

#include <QApplication>
#include <QElapsedTimer>
#include <QTimer>
#include <QWidget>

#include <functional>
#include <memory>

namespace tallowcrest::test {

// Waits, inside whatever event loop runs next, for a modal window to appear and
// hands it to `act`. Gives up after `limitMs`, closing any modal window left so
// the test cannot hang; `appeared` tells whether `act` ran.
class ModalWatch {
public:
    explicit ModalWatch(std::function<void(QWidget*)> act, int limitMs = 5000)
        : act_(std::move(act))
    {
        clock_.start();
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, [this, limitMs] {
            if (QWidget* modal = QApplication::activeModalWidget()) {
                timer_.stop();
                appeared_ = true;
                act_(modal);
            } else if (clock_.elapsed() > limitMs) {
                timer_.stop();
            }
        });
        timer_.start();
    }

    bool appeared() const { return appeared_; }

private:
    std::function<void(QWidget*)> act_;
    QElapsedTimer clock_;
    QTimer timer_;
    bool appeared_ = false;
};

}  // namespace tallowcrest::test
