#include "shell/qt_dialogs.h"

#include <QInputDialog>
#include <QLineEdit>
#include <QMessageBox>

namespace tallowcrest {

namespace {

QWidget* shownOwner(QWidget* owner)
{
    return owner && owner->isVisible() ? owner : nullptr;
}

QMessageBox::Icon iconFor(MessageStyle style)
{
    switch (style) {
    case MessageStyle::Critical:
        return QMessageBox::Critical;
    }
    return QMessageBox::Critical;
}

}  // namespace

void QtMessageBox::show(const std::string& text, const std::string& title, MessageStyle style)
{
    // Messages break lines with CR LF; a label wants LF alone.
    QString shown = QString::fromStdString(text);
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    QMessageBox box(iconFor(style), QString::fromStdString(title), shown, QMessageBox::Ok, shownOwner(m_owner));
    box.exec();
}

std::string QtPrompt::ask(const std::string& message)
{
    bool accepted = false;
    const QString answer = QInputDialog::getText(
        shownOwner(m_owner), QStringLiteral("Tallowcrest Server"), QString::fromStdString(message),
        QLineEdit::Normal, QString(), &accepted);
    return accepted ? answer.toStdString() : std::string();
}

}  // namespace tallowcrest
