#include <gtest/gtest.h>

#include "shell/artwork.h"

namespace tallowcrest {
namespace {

TEST(Artwork, BannerIs400By172AndTheIconHas16By32By48Images)
{
    EXPECT_EQ(BannerPixmap().size(), QSize(400, 172));
    const QIcon icon = WindowIcon();
    for (int side : {16, 32, 48}) {
        EXPECT_TRUE(icon.availableSizes().contains(QSize(side, side))) << side;
        EXPECT_EQ(icon.pixmap(QSize(side, side)).size(), QSize(side, side)) << side;
    }
}

}  // namespace
}  // namespace tallowcrest
