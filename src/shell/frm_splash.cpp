#include "shell/frm_splash.h"

#include "shell/artwork.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

namespace tallowcrest {

frmSplash::frmSplash(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), banner_(BannerPixmap())
{
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QString());
    setFixedSize(kBannerWidth, kBannerHeight);
    setModal(true);

    tmrSplash_.setObjectName(QStringLiteral("tmrSplash"));
    tmrSplash_.setSingleShot(true);
    tmrSplash_.setInterval(kShowMilliseconds);
    connect(&tmrSplash_, &QTimer::timeout, this, &frmSplash::tmrSplash_Timer);
    tmrSplash_.start();
}

void frmSplash::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (const QScreen* shownOn = screen()) {
        QRect area = rect();
        area.moveCenter(shownOn->geometry().center());
        move(area.topLeft());
    }
    activateWindow();
}

void frmSplash::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    painter.drawPixmap(0, 0, banner_);
}

void frmSplash::mouseReleaseEvent(QMouseEvent* event)
{
    event->accept();
    Form_Click();
}

void frmSplash::keyPressEvent(QKeyEvent* event)
{
    // Only keys that type something count: Shift, arrows and F-keys have no text.
    if (event->text().isEmpty()) {
        event->ignore();
        return;
    }
    event->accept();
    Form_KeyPress();
}

void frmSplash::Form_Click() { Unload(); }

void frmSplash::Form_KeyPress() { Unload(); }

void frmSplash::tmrSplash_Timer() { Unload(); }

void frmSplash::Unload()
{
    tmrSplash_.stop();
    done(QDialog::Accepted);
}

}  // namespace tallowcrest
