#include "app/picture_writer.h"

#include <QBuffer>
#include <QByteArray>

#include <unistd.h>

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <set>
#include <utility>

#include "app/checked_file.h"

namespace {

using Result = CPictureWriter::Result;

Result writePng(const QImage& picture, const std::string& path, platform::ExistingFile existing,
                bool makeFolder, const CPictureWriter::FileCreator& create) {
  Result result;
  result.path = path;
  QByteArray png;
  QBuffer buffer(&png);
  buffer.open(QIODevice::WriteOnly);
  if (!picture.save(&buffer, "PNG")) {
    result.error = QStringLiteral("the picture could not be encoded");
    return result;
  }
  if (makeFolder) {
    // A failure shows as the file's failure just below.
    const size_t slash = path.rfind('/');
    if (slash != std::string::npos && slash > 0) platform::makePrivateFolder(path.substr(0, slash));
  }
  platform::COutputFile created = create(path, existing);
  if (!created.isOpen()) {
    result.error = QString::fromStdString(created.error());
    return result;
  }
  result.path = created.path();
  result.saved = writeWholeFile(std::move(created), png, &result.error);
  // No truncated picture is left behind; a file that was there before is not ours to remove.
  if (!result.saved && existing != platform::ExistingFile::Replace) ::unlink(result.path.c_str());
  return result;
}

}  // namespace

struct CPictureWriter::Shared {
  std::mutex mutex;  // guards what follows up to newsMutex
  std::condition_variable ended;
  std::vector<Result> results;     // not taken yet
  std::vector<uint64_t> finished;  // saves whose thread is done with the disk, not reaped yet
  std::set<uint64_t> abandoned;    // their late results are dropped

  std::mutex newsMutex;  // guards onNews: the destructor clears it while a save may report
  NewsHandler onNews;
};

CPictureWriter::CPictureWriter(NewsHandler onNews, FileCreator create)
    : shared_(std::make_shared<Shared>()),
      create_(create ? std::move(create) : FileCreator(platform::createOutputFile)) {
  shared_->onNews = std::move(onNews);
}

CPictureWriter::~CPictureWriter() {
  {
    std::lock_guard lock(shared_->newsMutex);
    shared_->onNews = nullptr;
  }
  finish(std::chrono::milliseconds(0));
}

bool CPictureWriter::save(const QImage& picture, const std::string& path,
                          platform::ExistingFile existing, bool makeFolder) {
  reap();
  if (saves_.size() >= kMaxBusy) return false;
  const uint64_t id = ++nextId_;
  Save save;
  save.id = id;
  save.path = path;
  // The thread keeps its own reference: an abandoned save still has everything it touches.
  save.thread =
      std::thread([shared = shared_, id, picture, path, existing, makeFolder, create = create_] {
        Result result = writePng(picture, path, existing, makeFolder, create);
        {
          std::lock_guard lock(shared->mutex);
          if (shared->abandoned.erase(id) > 0) return;  // reported as abandoned already
          shared->results.push_back(std::move(result));
          shared->finished.push_back(id);
          shared->ended.notify_all();
        }
        std::lock_guard lock(shared->newsMutex);
        if (shared->onNews) shared->onNews();
      });
  saves_.push_back(std::move(save));
  return true;
}

std::vector<Result> CPictureWriter::takeResults() {
  reap();
  std::lock_guard lock(shared_->mutex);
  return std::exchange(shared_->results, {});
}

bool CPictureWriter::finish(std::chrono::milliseconds wait) {
  {
    std::unique_lock lock(shared_->mutex);
    shared_->ended.wait_for(lock, wait,
                            [this] { return shared_->finished.size() >= saves_.size(); });
  }
  reap();
  if (saves_.empty()) return true;
  // Storage that stopped answering must not hold up the owner (or the quit).
  bool abandonedAny = false;
  {
    std::lock_guard lock(shared_->mutex);
    std::erase_if(saves_, [&](Save& save) {
      const auto& finished = shared_->finished;
      if (std::find(finished.begin(), finished.end(), save.id) != finished.end())
        return false;  // just done: reaped below
      abandonedAny = true;
      shared_->abandoned.insert(save.id);
      Result result;
      result.path = save.path;
      result.abandoned = true;
      result.error = QStringLiteral("the disk did not answer in time");
      shared_->results.push_back(std::move(result));
      save.thread.detach();
      return true;
    });
  }
  reap();
  return !abandonedAny;
}

void CPictureWriter::reap() {
  std::vector<uint64_t> finished;
  {
    std::lock_guard lock(shared_->mutex);
    finished = std::exchange(shared_->finished, {});
  }
  std::erase_if(saves_, [&](Save& save) {
    if (std::find(finished.begin(), finished.end(), save.id) == finished.end()) return false;
    save.thread.join();  // done with the disk: at most reporting its news
    return true;
  });
}
