#pragma once
// A session bus of a test's own: a dbus-daemon started for the test with a minimal configuration
// (no service activation, so nothing of the machine's desktop answers on it), and fake desktop
// services on it that record the calls they get: org.freedesktop.ScreenSaver and
// org.freedesktop.Notifications. The fakes are served by the thread that creates them, so calls
// reach them only while that thread runs its event loop.
#include <sys/types.h>

#include <QDBusConnection>
#include <QDBusContext>
#include <QDBusMessage>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <QVariantMap>

#include <vector>

namespace testing_support {

// A call answered later, on the connection it came in on.
struct HeldReply {
  QDBusConnection connection;
  QDBusMessage call;
  uint answer = 0;
};

class CPrivateSessionBus {
 public:
  CPrivateSessionBus();
  ~CPrivateSessionBus();
  CPrivateSessionBus(const CPrivateSessionBus&) = delete;
  CPrivateSessionBus& operator=(const CPrivateSessionBus&) = delete;

  // Empty when the bus could not be started; skipReason() then says why.
  const QString& address() const { return address_; }
  const QString& skipReason() const { return skipReason_; }
  // A new connection to the bus under a name of its own (closed with the bus).
  QDBusConnection connect(const QString& name);

 private:
  QTemporaryDir dir_;
  QString address_;
  QString skipReason_;
  pid_t pid_ = -1;
  QStringList connections_;
};

class CFakeScreenSaver : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.ScreenSaver")

 public:
  struct Call {
    QString method;  // "Inhibit" or "UnInhibit"
    QString appName;
    QString reason;
    uint cookie = 0;  // given out (Inhibit) or handed back (UnInhibit)
  };
  std::vector<Call> calls;
  bool holdReplies = false;  // Inhibit answers only at answerHeld()
  void answerHeld();
  int count(const QString& method) const;
  // Cookies given out and not handed back.
  std::vector<uint> heldCookies() const;

 public slots:
  uint Inhibit(const QString& appName, const QString& reason);
  void UnInhibit(uint cookie);

 private:
  uint nextCookie_ = 7001;
  std::vector<HeldReply> held_;
};

class CFakeNotifications : public QObject, protected QDBusContext {
  Q_OBJECT
  Q_CLASSINFO("D-Bus Interface", "org.freedesktop.Notifications")

 public:
  struct Call {
    QString appName;
    uint replacesId = 0;
    QString icon;
    QString summary;
    QString body;
    QVariantMap hints;
    int expireMs = 0;
    uint id = 0;  // the id answered
  };
  std::vector<Call> calls;
  bool holdReplies = false;  // Notify answers only at answerHeld()
  void answerHeld();

 public slots:
  uint Notify(const QString& appName, uint replacesId, const QString& icon, const QString& summary,
              const QString& body, const QStringList& actions, const QVariantMap& hints,
              int expireMs);

 private:
  uint nextId_ = 31;
  std::vector<HeldReply> held_;
};

// Both fakes, registered on a connection of their own to the bus.
class CFakeDesktop {
 public:
  explicit CFakeDesktop(CPrivateSessionBus& bus);
  bool registered() const { return registered_; }
  CFakeScreenSaver screenSaver;
  CFakeNotifications notifications;

 private:
  bool registered_ = false;
};

}  // namespace testing_support
