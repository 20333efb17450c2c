#include <gtest/gtest.h>

#include <QImage>
#include <QSet>

#include "shell/artwork.h"

namespace tallowcrest {
namespace {

int DistinctColours(const QImage& image)
{
    QSet<QRgb> colours;
    for (int y = 0; y < image.height(); y += 2)
        for (int x = 0; x < image.width(); x += 2)
            colours.insert(image.pixel(x, y));
    return colours.size();
}

TEST(Artwork, BannerFillsTheSplashExactlyAndIsNoBlankArea)
{
    const QPixmap banner = BannerPixmap();
    ASSERT_FALSE(banner.isNull());
    EXPECT_EQ(banner.size(), QSize(400, 172));
    EXPECT_GT(DistinctColours(banner.toImage()), 50);
}

TEST(Artwork, WindowIconHas16By32By48Images)
{
    const QIcon icon = WindowIcon();
    const QList<QSize> sizes = icon.availableSizes();
    for (int side : {16, 32, 48}) {
        SCOPED_TRACE(side);
        EXPECT_TRUE(sizes.contains(QSize(side, side)));
        const QImage image = icon.pixmap(QSize(side, side)).toImage();
        EXPECT_EQ(image.size(), QSize(side, side));
        EXPECT_GT(DistinctColours(image), 3);
        // Opaque in the middle, so it reads on any panel colour.
        EXPECT_EQ(qAlpha(image.pixel(side / 2, side / 2)), 255);
    }
}

}  // namespace
}  // namespace tallowcrest
