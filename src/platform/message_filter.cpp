#include "platform/message_filter.h"

#include <QApplication>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPointer>
#include <QWidget>

namespace {

// Qt offers an input event to the application filter once per widget while it propagates to the
// parents; the filter must see each pen-down or pen-up once, before the first widget.
class ApplicationFilter final : public QObject {
 public:
  CMessageFilter* filter = nullptr;

  bool eventFilter(QObject* watched, QEvent* event) override {
    if (filter == nullptr || !watched->isWidgetType()) return false;
    switch (event->type()) {
      case QEvent::MouseButtonPress:
      case QEvent::MouseButtonDblClick:
      case QEvent::MouseButtonRelease: {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() != Qt::LeftButton || isRepeat(watched, event)) return false;
        const bool down = event->type() != QEvent::MouseButtonRelease;
        InputMessage message{down ? InputMessage::Kind::PenDown : InputMessage::Kind::PenUp,
                             watched, mouse->globalPosition().toPoint(), 0};
        return filter->preTranslateMessage(message);
      }
      case QEvent::KeyPress: {
        auto* keyEvent = static_cast<QKeyEvent*>(event);
        if (isRepeat(watched, event)) return false;
        int key = keyEvent->key();
        if (key == Qt::Key_Escape) key = 27;
        if (key == Qt::Key_Return || key == Qt::Key_Enter) key = 13;
        InputMessage message{InputMessage::Kind::KeyDown, watched, {}, key};
        return filter->preTranslateMessage(message);
      }
      default:
        return false;
    }
  }

 private:
  // While an unhandled event propagates, Qt offers it (or a copy with the same time stamp) to the
  // filter again for each parent widget. A repeat has the same type and time stamp and goes to an
  // ancestor of the widget that saw it last.
  bool isRepeat(QObject* watched, QEvent* event) {
    auto* input = static_cast<QInputEvent*>(event);
    bool repeat = false;
    if (lastWidget_ && event->type() == lastType_ && input->timestamp() == lastTimestamp_) {
      auto* widget = static_cast<QWidget*>(watched);
      repeat = widget != lastWidget_ && widget->isAncestorOf(lastWidget_);
    }
    lastWidget_ = static_cast<QWidget*>(watched);
    lastType_ = event->type();
    lastTimestamp_ = input->timestamp();
    return repeat;
  }
  QPointer<QWidget> lastWidget_;
  QEvent::Type lastType_ = QEvent::None;
  quint64 lastTimestamp_ = 0;
};

QPointer<ApplicationFilter>& installedFilter() {
  static QPointer<ApplicationFilter> filter;
  return filter;
}

}  // namespace

namespace platform {

void setMessageFilter(CMessageFilter* filter) {
  auto& installed = installedFilter();
  QCoreApplication* app = QCoreApplication::instance();
  if (app == nullptr) return;
  if (!installed) {
    installed = new ApplicationFilter;  // owned by the application object below
    installed->setParent(app);
    app->installEventFilter(installed);
  }
  installed->filter = filter;
}

CMessageFilter* messageFilter() {
  auto& installed = installedFilter();
  return installed ? installed->filter : nullptr;
}

}  // namespace platform
