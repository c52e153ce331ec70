#include "e2e/top_level_widgets.h"

#include <QApplication>

namespace e2e {
QList<QWidget*> topLevelWidgets() {
  return QApplication::topLevelWidgets();
}
}  // namespace e2e
