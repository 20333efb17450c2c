#pragma once

#include <QIcon>
#include <QPixmap>

namespace tallowcrest {

inline constexpr int kBannerWidth = 400;
inline constexpr int kBannerHeight = 172;

// The product banner shown by the splash window, drawn at 400 x 172.
QPixmap bannerPixmap();

// The window icon: a candle flame on a dark crest, at 16, 32 and 48 pixels.
QIcon windowIcon();

}  // namespace tallowcrest
