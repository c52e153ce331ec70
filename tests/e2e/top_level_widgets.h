#pragma once
// The application's top-level widgets, for tests that must find a window they didn't create.
// Apart from the window's headers: QApplication brings in X11's Display.
#include <QList>

class QWidget;

namespace e2e {
QList<QWidget*> topLevelWidgets();
}
