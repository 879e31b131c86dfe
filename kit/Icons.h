#pragma once
// The application style's standard icons, made once per process and shared by every control:
// a QIcon copy shares its pixmaps, so a form built again does not load or decode them again.

#include <QIcon>
#include <QStyle>

QIcon StyleIcon(QStyle::StandardPixmap which);
