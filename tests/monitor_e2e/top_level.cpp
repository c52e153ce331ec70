// Apart from the windows' headers: QApplication brings in X11's Display.
#include <QApplication>

#include "monitor_e2e/top_level.h"

namespace monitor_e2e {
QList<QWidget*> topLevelWidgets() {
  return QApplication::topLevelWidgets();
}
}  // namespace monitor_e2e
