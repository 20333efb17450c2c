#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>

#include "shell/frm_splash.h"

namespace tallowcrest {
namespace {

TEST(frmSplash, WithNoInputClosesByItsTimerAfterTwoSeconds)
{
    QElapsedTimer clock;
    clock.start();
    frmSplash splash;
    EXPECT_EQ(splash.size(), QSize(400, 172));
    EXPECT_EQ(splash.exec(), QDialog::Accepted);
    EXPECT_GE(clock.elapsed(), 1800);  // a coarse timer may fire up to 5% early
    EXPECT_FALSE(splash.isVisible());
}

TEST(frmSplash, AClickOrAKeyThatTypesClosesItAtOnceOtherKeysDoNot)
{
    const struct {
        Qt::Key key;  // Qt::Key_unknown: a click instead
        const char* text;
        bool closes;
    } cases[] = {
        {Qt::Key_unknown, "", true},      {Qt::Key_A, "a", true},       {Qt::Key_Return, "\r", true},
        {Qt::Key_Escape, "\x1b", true},   {Qt::Key_Backspace, "\b", true}, {Qt::Key_Shift, "", false},
        {Qt::Key_Left, "", false},        {Qt::Key_F1, "", false},
    };
    for (const auto& input : cases) {
        SCOPED_TRACE(input.key);
        frmSplash splash;
        splash.show();
        if (input.key == Qt::Key_unknown) {
            const QPointF at(200, 86);
            QMouseEvent press(QEvent::MouseButtonPress, at, splash.mapToGlobal(at), Qt::LeftButton,
                              Qt::LeftButton, Qt::NoModifier);
            QMouseEvent release(QEvent::MouseButtonRelease, at, splash.mapToGlobal(at), Qt::LeftButton,
                                Qt::NoButton, Qt::NoModifier);
            QCoreApplication::sendEvent(&splash, &press);
            QCoreApplication::sendEvent(&splash, &release);
        } else {
            for (QEvent::Type type : {QEvent::KeyPress, QEvent::KeyRelease}) {
                QKeyEvent event(type, input.key, Qt::NoModifier, QString::fromLatin1(input.text));
                QCoreApplication::sendEvent(&splash, &event);
            }
        }
        EXPECT_EQ(splash.isVisible(), !input.closes);
        EXPECT_EQ(splash.tmrSplash().isActive(), !input.closes);
        EXPECT_EQ(splash.result(), input.closes ? QDialog::Accepted : QDialog::Rejected);
    }
}

}  // namespace
}  // namespace tallowcrest
