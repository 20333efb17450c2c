#include "shell/frm_splash.h"

#include "shell/artwork.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QScreen>

namespace tallowcrest {

frmSplash::frmSplash(QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::FramelessWindowHint), m_banner(bannerPixmap())
{
    setObjectName(QStringLiteral("frmSplash"));
    setWindowTitle(QString());
    setFixedSize(kBannerWidth, kBannerHeight);
    setModal(true);

    m_tmrSplash.setObjectName(QStringLiteral("tmrSplash"));
    m_tmrSplash.setSingleShot(true);
    m_tmrSplash.setInterval(kShowMilliseconds);
    connect(&m_tmrSplash, &QTimer::timeout, this, &frmSplash::tmrSplash_Timer);
    m_tmrSplash.start();
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
    painter.drawPixmap(0, 0, m_banner);
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

void frmSplash::Form_Click() { unload(); }

void frmSplash::Form_KeyPress() { unload(); }

void frmSplash::tmrSplash_Timer() { unload(); }

void frmSplash::unload()
{
    m_tmrSplash.stop();
    done(QDialog::Accepted);
}

}  // namespace tallowcrest
