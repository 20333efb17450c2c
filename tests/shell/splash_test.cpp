#include "shell/frm_splash.h"
#include <QTest>
#include <gtest/gtest.h>

namespace tallowcrest::testing {
namespace {
TEST(Splash, GoesOnAKeyThatTypesACharacterAndStaysOnOneThatTypesNone)
{
    const struct { const char* name; Qt::Key key; bool goes; } rows[] = {{"a", Qt::Key_A, true},
        {"7", Qt::Key_7, true}, {"Enter", Qt::Key_Return, true}, {"Backspace", Qt::Key_Backspace, true},
        {"Shift", Qt::Key_Shift, false}, {"an arrow", Qt::Key_Left, false}, {"F1", Qt::Key_F1, false}};
    for (const auto& row : rows) {
        frmSplash splash;
        splash.show();
        QTest::keyClick(&splash, row.key);
        EXPECT_EQ(splash.isVisible(), !row.goes) << row.name;
    }
}
}  // namespace
}  // namespace tallowcrest::testing
