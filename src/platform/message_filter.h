#pragma once
// The application-wide filter that sees pen and key input before the control it is addressed to.
#include <QPoint>

class QObject;

// One input message as the filter sees it.
struct InputMessage {
  enum class Kind { PenDown, PenUp, KeyDown };
  Kind kind;
  QObject* target;   // the widget the input is addressed to
  QPoint globalPos;  // pen position on the screen (pen messages)
  int key;           // classic key code for KeyDown: 27 Escape, 13 Return, else the Qt key
};

class CMessageFilter {
 public:
  virtual ~CMessageFilter() = default;
  // Return true to swallow the message: the control never sees it.
  virtual bool preTranslateMessage(const InputMessage& message) = 0;
};

namespace platform {
// Installs the filter (nullptr removes it). UI thread only; the caller keeps the filter alive
// until it removes it.
void setMessageFilter(CMessageFilter* filter);
CMessageFilter* messageFilter();
}  // namespace platform
