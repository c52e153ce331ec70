#pragma once
// Saves pictures as PNG files off the UI thread (the S key's snapshots, the --screenshot at quit
// time): each save runs on a thread of its own, which makes the folder, creates the file (see
// platform::createOutputFile), encodes and writes it. Storage that stops answering holds up
// only that thread: the owner never waits for it longer than it asks to, and a save still busy
// then is abandoned, left to finish or to die with the process.
//
// Threads: every call on the owner's thread; the news handler runs on a save's thread. What a
// save's thread touches lives in a state it co-owns, so an abandoned save never touches freed
// memory.
#include <QImage>
#include <QString>

#include <chrono>
#include <cstddef>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/output_file.h"

class CPictureWriter {
 public:
  struct Result {
    std::string path;  // the file's name (a counter may have been added), or the one asked for
    bool saved = false;
    bool abandoned = false;  // still busy when the owner stopped waiting
    QString error;           // why it was not saved
  };
  // Runs on a save's thread when its result is ready; it must not block or call back (post to
  // the owner's thread).
  using NewsHandler = std::function<void()>;
  // Creates the file; platform::createOutputFile unless a test stands in for the disk.
  using FileCreator =
      std::function<platform::COutputFile(const std::string&, platform::ExistingFile)>;

  // Saves that may run at once; more are refused until one ends.
  static constexpr size_t kMaxBusy = 8;

  explicit CPictureWriter(NewsHandler onNews = {}, FileCreator create = {});
  ~CPictureWriter();  // abandons what is still busy: never waits for the disk
  CPictureWriter(const CPictureWriter&) = delete;
  CPictureWriter& operator=(const CPictureWriter&) = delete;

  // Starts saving picture to path (with makeFolder, its missing folders are made first,
  // private). A new file that didn't get every byte is removed. False when kMaxBusy saves are
  // still busy (nothing is started).
  bool save(const QImage& picture, const std::string& path, platform::ExistingFile existing,
            bool makeFolder);
  // Saves that have not been taken as results yet.
  size_t pending() const { return saves_.size(); }
  // The results that arrived since the last call, in the order the saves ended.
  std::vector<Result> takeResults();
  // Waits up to `wait` for every save; those still busy then are abandoned and come back
  // as abandoned results from takeResults. True when none had to be abandoned.
  bool finish(std::chrono::milliseconds wait);

 private:
  struct Shared;
  struct Save {
    uint64_t id = 0;
    std::string path;
    std::thread thread;
  };
  void reap();

  std::shared_ptr<Shared> shared_;
  FileCreator create_;
  uint64_t nextId_ = 0;
  std::vector<Save> saves_;  // started and not yet reaped
};
