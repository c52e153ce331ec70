#pragma once
// The application's top-level widgets, for tests that must find a window the run made.
#include <QList>

class QWidget;

namespace monitor_e2e {
QList<QWidget*> topLevelWidgets();
}
