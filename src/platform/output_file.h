#pragma once
// Files and folders the viewer writes for the user (snapshots, recordings, screenshots): private
// (files 0600, new folders 0700), never written through a link at the last component, and never
// put over a file that exists unless the caller asks for that.
#include <string>

namespace platform {

enum class ExistingFile {
  Refuse,    // an existing name is an error
  Numbered,  // "name.ext" taken: "name-2.ext", "name-3.ext", ... (the first free one)
  Replace,   // an existing file is truncated and reused (not a link: that is an error)
};

// An open descriptor for writing; closes it unless released.
class COutputFile {
 public:
  COutputFile() = default;
  ~COutputFile();
  COutputFile(COutputFile&& other) noexcept;
  COutputFile& operator=(COutputFile&& other) noexcept;
  COutputFile(const COutputFile&) = delete;
  COutputFile& operator=(const COutputFile&) = delete;

  bool isOpen() const { return fd_ >= 0; }
  int fd() const { return fd_; }
  // The name that was created (Numbered may have added a counter).
  const std::string& path() const { return path_; }
  // Why the file could not be created: "cannot create PATH: reason".
  const std::string& error() const { return error_; }
  // The caller takes the descriptor over.
  int release();

 private:
  friend COutputFile createOutputFile(const std::string& path, ExistingFile existing);
  int fd_ = -1;
  std::string path_;
  std::string error_;
};

// Creates path for writing with mode 0600 (see ExistingFile). May wait for the disk: a FIFO
// without a reader blocks, as a hung network share does.
COutputFile createOutputFile(const std::string& path, ExistingFile existing);

// "name.ext" -> "name-N.ext" (the extension is what follows the last dot of the last component).
std::string numberedName(const std::string& path, int number);

// Creates the folder and any missing parents with mode 0700 (existing ones are left as they are);
// true when the folder exists afterwards.
bool makePrivateFolder(const std::string& path);

}  // namespace platform
