#include "app/active_window.h"

#include <QApplication>
#include <QWidget>

bool isActiveWithin(const QWidget* root) {
  for (const QWidget* widget = QApplication::activeWindow(); widget != nullptr;
       widget = widget->parentWidget()) {
    if (widget == root) return true;
  }
  return false;
}
