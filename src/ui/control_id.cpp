#include "ui/control_id.h"

#include <QVariant>

void setControlId(QWidget* control, int id) {
  control->setObjectName(QString::number(id));
  control->setProperty("controlId", id);
}

int controlId(const QObject* control) {
  const QVariant id = control->property("controlId");
  return id.isValid() ? id.toInt() : 0;
}
