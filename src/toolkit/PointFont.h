#pragma once

#include <string>

#include <QFont>

// A font of the given face and size in tenths of a point, sized in whole pixels as the
// program's layouts expect at 96 pixels per inch (7 points is 9 pixels). Pixels here are
// logical ones, so text grows with the rest of the window on a HiDPI screen. Drawn without
// antialiasing, crisp in two colours like the bitmaps around it.
QFont PointFont(const std::string& face, int tenthsOfPoint);
