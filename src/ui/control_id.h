#pragma once
// Controls keep their classic numeric ids: as the object name (so findChild<T>("1004") finds
// them) and as the "controlId" property (what messages such as 10025 carry as wParam).
#include <QString>
#include <QWidget>

void setControlId(QWidget* control, int id);
// The id given with setControlId, or 0.
int controlId(const QObject* control);

// The child with that control id, or nullptr.
template <typename T>
T* findControl(const QWidget* parent, int id) {
  return parent->findChild<T*>(QString::number(id));
}
