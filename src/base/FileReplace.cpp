#include "base/FileReplace.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <string>
#include <system_error>

namespace fm::files {

namespace {

[[noreturn]] void Fail(const std::filesystem::path& file, const char* what, int error) {
  throw std::system_error(error, std::generic_category(),
                          "The file " + file.string() + " could not be " + what);
}

// Closes the descriptor and removes the temporary file unless the write went through.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::filesystem::path path) : mPath(std::move(path)) {}
  ~TemporaryFile() {
    if (mFd >= 0) ::close(mFd);
    if (!mKept) {
      std::error_code ignored;
      std::filesystem::remove(mPath, ignored);
    }
  }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;

  int& Fd() { return mFd; }
  void Keep() { mKept = true; }

 private:
  std::filesystem::path mPath;
  int mFd = -1;
  bool mKept = false;
};

}  // namespace

void ReplaceFile(const std::filesystem::path& file, std::string_view contents) {
  std::filesystem::path temporary = file;
  temporary += "." + std::to_string(::getpid()) + ".tmp";
  TemporaryFile guard(temporary);
  int& fd = guard.Fd();
  fd = ::open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) Fail(file, "written", errno);
  for (std::size_t done = 0; done < contents.size();) {
    const ssize_t written = ::write(fd, contents.data() + done, contents.size() - done);
    if (written < 0) {
      if (errno == EINTR) continue;
      Fail(file, "written", errno);
    }
    done += static_cast<std::size_t>(written);
  }
  // On the disk before it takes the file's name, so that the name never points at a file
  // that a power failure could leave empty.
  if (::fsync(fd) != 0) Fail(file, "written", errno);
  if (::close(fd) != 0) {
    fd = -1;
    Fail(file, "written", errno);
  }
  fd = -1;
  if (::rename(temporary.c_str(), file.c_str()) != 0) Fail(file, "replaced", errno);
  guard.Keep();
  // The rename itself is on the disk once the folder is; a folder that cannot be opened
  // only loses that assurance.
  const std::filesystem::path folder = file.has_parent_path() ? file.parent_path() : ".";
  const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
}

}  // namespace fm::files
