#include "shell/artwork.h"

#include <QFont>
#include <QImage>
#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>
#include <QRadialGradient>

namespace tallowcrest {

namespace {

const QColor kNight(0x1d, 0x1b, 0x2e);
const QColor kDusk(0x4a, 0x2c, 0x3f);
const QColor kTallow(0xf3, 0xe6, 0xc4);
const QColor kFlameCore(0xff, 0xf4, 0xb8);
const QColor kFlameEdge(0xf2, 0x8c, 0x28);

// A candle standing on a crest, its flame at the top, all inside `box`.
void drawCandle(QPainter& painter, const QRectF& box)
{
    const qreal w = box.width();
    const qreal h = box.height();

    const QPointF glowCentre(box.center().x(), box.top() + h * 0.22);
    const qreal glowRadius = w * 0.5;
    QRadialGradient glow(glowCentre, glowRadius);
    glow.setColorAt(0.0, QColor(255, 200, 90, 150));
    glow.setColorAt(1.0, QColor(255, 200, 90, 0));
    painter.setPen(Qt::NoPen);
    painter.setBrush(glow);
    painter.drawEllipse(glowCentre, glowRadius, glowRadius);

    QPainterPath crest;
    crest.moveTo(box.left(), box.bottom());
    crest.quadTo(box.center().x(), box.bottom() - h * 0.30, box.right(), box.bottom());
    crest.closeSubpath();
    painter.setBrush(kDusk.lighter(125));
    painter.drawPath(crest);

    const QRectF body(box.center().x() - w * 0.11, box.top() + h * 0.42, w * 0.22, h * 0.42);
    QLinearGradient wax(body.topLeft(), body.topRight());
    wax.setColorAt(0.0, kTallow);
    wax.setColorAt(1.0, kTallow.darker(125));
    painter.setBrush(wax);
    painter.drawRoundedRect(body, w * 0.03, w * 0.03);

    painter.setPen(QPen(kNight, qMax<qreal>(1.0, w * 0.02)));
    painter.drawLine(QPointF(body.center().x(), body.top()),
                     QPointF(body.center().x(), body.top() - h * 0.05));
    painter.setPen(Qt::NoPen);

    const QPointF tip(body.center().x(), box.top() + h * 0.08);
    const qreal flameBase = body.top() - h * 0.04;
    QPainterPath flame;
    flame.moveTo(tip);
    flame.cubicTo(QPointF(tip.x() + w * 0.16, tip.y() + h * 0.16),
                  QPointF(tip.x() + w * 0.12, flameBase),
                  QPointF(tip.x(), flameBase));
    flame.cubicTo(QPointF(tip.x() - w * 0.12, flameBase),
                  QPointF(tip.x() - w * 0.16, tip.y() + h * 0.16), tip);
    QLinearGradient fire(tip, QPointF(tip.x(), flameBase));
    fire.setColorAt(0.0, kFlameEdge);
    fire.setColorAt(1.0, kFlameCore);
    painter.setBrush(fire);
    painter.drawPath(flame);
}

QPixmap iconImage(int size)
{
    QImage image(size, size, QImage::Format_ARGB32_Premultiplied);
    image.fill(Qt::transparent);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setPen(Qt::NoPen);
    QLinearGradient sky(0, 0, 0, size);
    sky.setColorAt(0.0, kNight);
    sky.setColorAt(1.0, kDusk);
    painter.setBrush(sky);
    painter.drawRoundedRect(QRectF(0, 0, size, size), size * 0.18, size * 0.18);
    drawCandle(painter, QRectF(size * 0.1, size * 0.06, size * 0.8, size * 0.9));
    painter.end();
    return QPixmap::fromImage(image);
}

}  // namespace

QPixmap bannerPixmap()
{
    QImage image(kBannerWidth, kBannerHeight, QImage::Format_RGB32);
    QPainter painter(&image);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.setRenderHint(QPainter::TextAntialiasing);

    QLinearGradient sky(0, 0, kBannerWidth, kBannerHeight);
    sky.setColorAt(0.0, kNight);
    sky.setColorAt(1.0, kDusk);
    painter.fillRect(image.rect(), sky);

    drawCandle(painter, QRectF(22, 18, 110, 150));

    QFont title(QStringLiteral("DejaVu Serif"));
    title.setPixelSize(30);
    title.setBold(true);
    painter.setFont(title);
    painter.setPen(kTallow);
    const QRectF textArea(140, 40, kBannerWidth - 150, 80);
    painter.drawText(textArea, Qt::AlignLeft | Qt::AlignTop, QStringLiteral("Tallowcrest"));
    painter.setPen(kFlameEdge);
    painter.drawText(textArea, Qt::AlignLeft | Qt::AlignBottom, QStringLiteral("Server"));

    QFont tagline(QStringLiteral("DejaVu Sans"));
    tagline.setPixelSize(11);
    tagline.setLetterSpacing(QFont::AbsoluteSpacing, 1.5);
    painter.setFont(tagline);
    painter.setPen(kTallow.darker(140));
    painter.drawText(QRectF(142, 128, kBannerWidth - 150, 20), Qt::AlignLeft | Qt::AlignVCenter,
                     QStringLiteral("YOUR MUSIC, SERVED WARM"));

    painter.setPen(QPen(kFlameEdge, 1));
    painter.drawLine(QPointF(142, 124), QPointF(kBannerWidth - 24, 124));
    painter.end();
    return QPixmap::fromImage(image);
}

QIcon windowIcon()
{
    QIcon icon;
    for (int size : {16, 32, 48})
        icon.addPixmap(iconImage(size));
    return icon;
}

}  // namespace tallowcrest
