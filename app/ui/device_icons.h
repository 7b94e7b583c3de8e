#pragma once
#include <QIcon>
#include <QPixmap>
#include <cstdint>

constexpr int ICON_DEVICE_SIZE = 48;  // the list's large icons

// The list's device pictures, drawn at start-up: image 0 a grey recorder
// (offline), image 1 a green one (online). GUI thread (needs the application).
QPixmap DrawDevicePixmap(int32_t image);
QIcon MakeDeviceIcon(int32_t image);

// The application's icon: the letter Z on a blue tile, in 16, 32 and 48 pixels.
QIcon MakeAppIcon();
