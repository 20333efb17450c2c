#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QElapsedTimer>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QScreen>
#include <QTimer>

#include "shell/frm_splash.h"

namespace tallowcrest {
namespace {

void Press(QWidget& target, Qt::Key key, const QString& text,
           Qt::KeyboardModifiers modifiers = Qt::NoModifier)
{
    QKeyEvent press(QEvent::KeyPress, key, modifiers, text);
    QCoreApplication::sendEvent(&target, &press);
    QKeyEvent release(QEvent::KeyRelease, key, modifiers, text);
    QCoreApplication::sendEvent(&target, &release);
}

void Click(QWidget& target, QPoint at)
{
    const QPointF local(at);
    const QPointF global(target.mapToGlobal(at));
    QMouseEvent press(QEvent::MouseButtonPress, local, global, Qt::LeftButton, Qt::LeftButton,
                      Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &press);
    QMouseEvent release(QEvent::MouseButtonRelease, local, global, Qt::LeftButton, Qt::NoButton,
                        Qt::NoModifier);
    QCoreApplication::sendEvent(&target, &release);
}

TEST(frmSplash, IsACaptionlessModal400By172WindowWithItsTimerRunningFromLoad)
{
    frmSplash splash;
    EXPECT_TRUE(splash.windowTitle().isEmpty());
    EXPECT_TRUE(splash.isModal());
    EXPECT_TRUE(splash.windowFlags().testFlag(Qt::FramelessWindowHint));
    EXPECT_EQ(splash.size(), QSize(400, 172));
    EXPECT_EQ(splash.tmrSplash().interval(), 2000);
    EXPECT_TRUE(splash.tmrSplash().isActive());
    EXPECT_TRUE(splash.tmrSplash().isSingleShot());
}

TEST(frmSplash, ShowsCentredOnTheScreen)
{
    frmSplash splash;
    splash.show();
    const QRect screen = splash.screen()->geometry();
    EXPECT_LE((splash.geometry().center() - screen.center()).manhattanLength(), 2);
    splash.close();
}

TEST(frmSplash, WithNoInputClosesByItsTimerAfterTwoSeconds)
{
    frmSplash splash;
    QElapsedTimer clock;
    clock.start();
    const int result = splash.exec();
    EXPECT_EQ(result, QDialog::Accepted);
    EXPECT_GE(clock.elapsed(), 1900);
    EXPECT_FALSE(splash.isVisible());
    EXPECT_FALSE(splash.tmrSplash().isActive());
}

TEST(frmSplash, AClickAnywhereClosesItAtOnce)
{
    for (QPoint at : {QPoint(0, 0), QPoint(200, 86), QPoint(399, 171)}) {
        frmSplash splash;
        QTimer::singleShot(0, &splash, [&splash, at] { Click(splash, at); });
        QElapsedTimer clock;
        clock.start();
        EXPECT_EQ(splash.exec(), QDialog::Accepted);
        EXPECT_LT(clock.elapsed(), 1500) << "closed by the timer, not the click";
        EXPECT_FALSE(splash.tmrSplash().isActive());
    }
}

struct CharacterKey {
    Qt::Key key;
    const char* text;
};

TEST(frmSplash, AKeyThatTypesACharacterClosesIt)
{
    const CharacterKey keys[] = {
        {Qt::Key_A, "a"},        {Qt::Key_A, "A"},       {Qt::Key_7, "7"},
        {Qt::Key_Return, "\r"},  {Qt::Key_Enter, "\r"},  {Qt::Key_Escape, "\x1b"},
        {Qt::Key_Backspace, "\b"}, {Qt::Key_Space, " "},
    };
    for (const CharacterKey& key : keys) {
        SCOPED_TRACE(key.key);
        frmSplash splash;
        splash.show();
        Press(splash, key.key, QString::fromLatin1(key.text));
        EXPECT_FALSE(splash.isVisible());
        EXPECT_EQ(splash.result(), QDialog::Accepted);
        EXPECT_FALSE(splash.tmrSplash().isActive());
    }
}

TEST(frmSplash, KeysThatTypeNothingLeaveItUp)
{
    const Qt::Key keys[] = {Qt::Key_Shift, Qt::Key_Control, Qt::Key_Left, Qt::Key_Down,
                            Qt::Key_F1, Qt::Key_F12, Qt::Key_Home};
    frmSplash splash;
    splash.show();
    for (Qt::Key key : keys) {
        SCOPED_TRACE(key);
        Press(splash, key, QString());
        EXPECT_TRUE(splash.isVisible());
        EXPECT_TRUE(splash.tmrSplash().isActive());
    }
    // Still closes by a character afterwards.
    Press(splash, Qt::Key_B, QStringLiteral("b"));
    EXPECT_FALSE(splash.isVisible());
}

}  // namespace
}  // namespace tallowcrest
