#include <gtest/gtest.h>

#include <QApplication>
#include <QInputDialog>
#include <QMessageBox>
#include <QTimer>

#include "shell/qt_dialogs.h"

namespace tallowcrest {
namespace {

// Hands the next modal window to `act` from inside its event loop, then
// closes it, so the test cannot hang on it.
template <typename Dialog, typename Act>
void OnNextModal(QTimer& poll, Act act)
{
    poll.callOnTimeout([&poll, act] {
        if (QWidget* modal = QApplication::activeModalWidget()) {
            poll.stop();
            if (auto* dialog = qobject_cast<Dialog*>(modal))
                act(*dialog);
            modal->close();
        }
    });
    poll.start(5);
}

TEST(QtDialogs, PromptStartsEmptyAndCancelAnswersNothingMessageBoxIsCriticalWithOneOk)
{
    QTimer promptPoll, boxPoll;
    QString initialText = QStringLiteral("<no prompt>");
    OnNextModal<QInputDialog>(promptPoll, [&](QInputDialog& prompt) {
        initialText = prompt.textValue();
        prompt.setTextValue(QStringLiteral("4242"));
        prompt.reject();
    });
    EXPECT_EQ(QtPrompt().Ask("Please enter the Local Port that you wish to use:"), "");
    EXPECT_EQ(initialText, QString());

    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    OnNextModal<QMessageBox>(boxPoll, [&](QMessageBox& box) {
        icon = box.icon();
        buttons = box.standardButtons();
    });
    QtMessageBox().Show("Please click the 'Set Dir' button and enter a valid directory.", "Invalid path",
                        MessageStyle::Critical);
    EXPECT_EQ(icon, QMessageBox::Critical);
    EXPECT_EQ(buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

}  // namespace
}  // namespace tallowcrest
