#pragma once
// The built-in demo DVR: dvr-emulator started as a child process on a free loopback port, with
// the account demo / demo. It ends with this object (or with the viewer, should the viewer die).
// Plain fork and exec: the child starts no thread before it runs the emulator.
#include <QString>

#include <sys/types.h>

#include <cstdint>

class CDemoDvr {
 public:
  static constexpr const char* kUser = "demo";
  static constexpr const char* kPassword = "demo";

  CDemoDvr() = default;
  ~CDemoDvr();
  CDemoDvr(const CDemoDvr&) = delete;
  CDemoDvr& operator=(const CDemoDvr&) = delete;

  // Starts the emulator and waits until it listens. False with a message in *error.
  bool start(QString* error);
  const QString& host() const { return host_; }
  uint16_t port() const { return port_; }

  // Where the emulator program is: PELLOXVIEW_EMULATOR, beside the viewer, or in the build tree.
  static QString emulatorPath();

 private:
  void stop();

  pid_t pid_ = -1;
  QString host_;
  uint16_t port_ = 0;
};
