#pragma once

#include "ui_OrvaUI.h"

#include <QString>

// The form was drawn in pixels for one font at 96 dpi. On another desktop the 14-point texts
// grow with the font resolution (125 % text scaling is 120 dpi) or come in a wider family, and
// fixed rectangles would cut them. Fitting keeps the point size and the proportions: it picks the
// narrowest family that needs no more room than the resolution already asks for, then scales
// every rectangle of the form by one factor, large enough for every text.
namespace formfit {

// A port name the closed port box must show whole even before any port is listed.
#ifdef Q_OS_WIN
inline const QString referencePortName = QStringLiteral("COM10");
#else
inline const QString referencePortName = QStringLiteral("ttyUSB0");
#endif

// Fits the form built by setupUi on `window`; returns the factor applied (1 for the form as
// drawn).
double fit(QMainWindow *window, Ui::OrvaUIClass &ui);

// Widens the port box's popup to its longest entry; the closed box keeps its place.
void fitPortPopup(QComboBox *ports);

}  // namespace formfit
