#include "viewer_live/application.h"

#include <QApplication>

namespace bench {

int runInApplication(int argc, char** argv, const std::function<int()>& body) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  return body();
}

}  // namespace bench
