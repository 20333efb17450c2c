#include <gtest/gtest.h>

#include <QAbstractButton>
#include <QInputDialog>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>

#include "shell/modal_watch.h"
#include "shell/qt_dialogs.h"

namespace tallowcrest {
namespace {

using test::ModalWatch;

struct SeenMessageBox {
    QString text;
    QString title;
    QMessageBox::Icon icon = QMessageBox::NoIcon;
    QMessageBox::StandardButtons buttons;
    QWidget* parent = nullptr;
};

SeenMessageBox ShowAndDismiss(QtMessageBox& box, const std::string& text, const std::string& title)
{
    SeenMessageBox seen;
    ModalWatch watch([&](QWidget* modal) {
        auto* shown = qobject_cast<QMessageBox*>(modal);
        if (!shown) {
            modal->close();
            return;
        }
        seen = {shown->text(), shown->windowTitle(), shown->icon(), shown->standardButtons(),
                shown->parentWidget()};
        shown->button(QMessageBox::Ok)->click();
    });
    box.Show(text, title, MessageStyle::Critical);
    EXPECT_TRUE(watch.appeared());
    return seen;
}

TEST(QtMessageBox, ShowsCriticalBoxWithOneOkButtonAndReturnsWhenDismissed)
{
    QtMessageBox box;
    const SeenMessageBox seen = ShowAndDismiss(
        box, "Please click the 'Set Dir' button and enter a valid directory.", "Invalid path");
    EXPECT_EQ(seen.text, QStringLiteral("Please click the 'Set Dir' button and enter a valid directory."));
    EXPECT_EQ(seen.title, QStringLiteral("Invalid path"));
    EXPECT_EQ(seen.icon, QMessageBox::Critical);
    EXPECT_EQ(seen.buttons, QMessageBox::StandardButtons(QMessageBox::Ok));
}

TEST(QtMessageBox, Utf8TextArrivesUnmangled)
{
    QtMessageBox box;
    const SeenMessageBox seen = ShowAndDismiss(box, "Kein Zugriff auf /home/jörg/音楽", "Error");
    EXPECT_EQ(seen.text, QString::fromUtf8("Kein Zugriff auf /home/jörg/音楽"));
}

TEST(QtMessageBox, StaysAboveItsOwnerOnlyOnceTheOwnerIsShown)
{
    QWidget owner;
    QtMessageBox box(&owner);
    EXPECT_EQ(ShowAndDismiss(box, "early", "Error").parent, nullptr);
    owner.show();
    EXPECT_EQ(ShowAndDismiss(box, "later", "Error").parent, &owner);
}

struct PromptVisit {
    QString title;
    QString label;
    QString initialText;
};

TEST(QtPrompt, OpensWithTheProductTitleAnEmptyFieldAndAnswersWhatWasTyped)
{
    QtPrompt prompt;
    PromptVisit visit;
    ModalWatch watch([&](QWidget* modal) {
        auto* dialog = qobject_cast<QInputDialog*>(modal);
        if (!dialog) {
            modal->close();
            return;
        }
        visit = {dialog->windowTitle(), dialog->labelText(), dialog->textValue()};
        dialog->setTextValue(QString::fromUtf8("/srv/Müsik/ 音楽 "));
        dialog->accept();
    });
    const std::string answer = prompt.Ask("Please enter the Local Directory that you wish to use:");
    ASSERT_TRUE(watch.appeared());
    EXPECT_EQ(visit.title, QStringLiteral("Tallowcrest Server"));
    EXPECT_EQ(visit.label, QStringLiteral("Please enter the Local Directory that you wish to use:"));
    EXPECT_TRUE(visit.initialText.isEmpty());
    EXPECT_EQ(answer, "/srv/Müsik/ 音楽 ");
}

TEST(QtPrompt, CancelAnswersTheEmptyTextEvenWhenSomethingWasTyped)
{
    QtPrompt prompt;
    ModalWatch watch([](QWidget* modal) {
        if (auto* dialog = qobject_cast<QInputDialog*>(modal))
            dialog->setTextValue(QStringLiteral("4242"));
        modal->close();
    });
    EXPECT_EQ(prompt.Ask("Please enter the Local Port that you wish to use:"), "");
    EXPECT_TRUE(watch.appeared());
}

TEST(QtPrompt, EveryPromptStartsEmptyAgain)
{
    QtPrompt prompt;
    for (const char* typed : {"first", "second"}) {
        QString initial = QStringLiteral("unseen");
        ModalWatch watch([&](QWidget* modal) {
            auto* dialog = qobject_cast<QInputDialog*>(modal);
            if (!dialog) {
                modal->close();
                return;
            }
            initial = dialog->textValue();
            dialog->setTextValue(QString::fromUtf8(typed));
            dialog->accept();
        });
        EXPECT_EQ(prompt.Ask("Port?"), typed);
        EXPECT_TRUE(initial.isEmpty()) << initial.toStdString();
    }
}

}  // namespace
}  // namespace tallowcrest
