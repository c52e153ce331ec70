#include "app/headless.h"

#include <QGuiApplication>

bool isHeadlessPlatform() {
  const QString name = QGuiApplication::platformName();
  return name == QStringLiteral("offscreen") || name == QStringLiteral("minimal");
}
