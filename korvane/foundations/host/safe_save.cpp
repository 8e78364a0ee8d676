#include "korvane/foundations/host/safe_save.h"

#include <fcntl.h>
#include <limits.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <vector>

#include "korvane/foundations/host/exceptions.h"

namespace korvane {

namespace {

std::string DirOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  if (slash == std::string::npos) return ".";
  return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
  const size_t slash = path.rfind('/');
  return slash == std::string::npos ? path : path.substr(slash + 1);
}

// The file a save to `name` replaces: `name` itself, or, through any chain of
// symbolic links, the path the last link names (which need not exist yet).
std::string ResolveLinks(std::string name) {
  for (int hops = 0; hops < 40; ++hops) {
    struct stat st;
    if (lstat(name.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return name;
    std::vector<char> buf(size_t(st.st_size > 0 ? st.st_size : PATH_MAX) + 1);
    const ssize_t n = readlink(name.c_str(), buf.data(), buf.size() - 1);
    if (n < 0) return name;
    std::string to(buf.data(), size_t(n));
    name = (!to.empty() && to[0] == '/') ? to : DirOf(name) + "/" + to;
  }
  throw EFCreateError("Cannot create file \"" + name + "\". Too many levels of symbolic links");
}

// Makes the rename durable: the folder's entry is flushed too.
void SyncDir(const std::string& dir) {
  const int fd = open(dir.c_str(), O_RDONLY | O_DIRECTORY);
  if (fd < 0) return;
  fsync(fd);
  close(fd);
}

}  // namespace

TSafeFileSave::TSafeFileSave(const std::string& name) : target_(ResolveLinks(name)) {
  struct stat st;
  if (stat(target_.c_str(), &st) == 0 && S_ISDIR(st.st_mode))
    throw EFCreateError("Cannot create file \"" + name + "\". Is a directory");
  std::string templ = DirOf(target_) + "/." + BaseOf(target_) + ".kvpart-XXXXXX";
  std::vector<char> path(templ.begin(), templ.end());
  path.push_back('\0');
  const int fd = mkstemp(path.data());
  if (fd < 0) throw EFCreateError("Cannot create file \"" + name + "\". " + std::strerror(errno));
  close(fd);
  side_ = path.data();
  try {
    stream_ = std::make_unique<TFileStream>(side_, fmOpenReadWrite);
  } catch (...) {
    std::remove(side_.c_str());
    throw;
  }
}

TSafeFileSave::~TSafeFileSave() { Discard(); }

void TSafeFileSave::Discard() {
  if (done_) return;
  done_ = true;
  stream_.reset();
  std::remove(side_.c_str());
}

void TSafeFileSave::Commit() {
  if (done_) throw EFCreateError("Cannot create file \"" + target_ + "\"");
  try {
    stream_->Flush();
  } catch (...) {
    Discard();
    throw;
  }
  // The new file keeps the access rights of the one it replaces; a new name
  // gets the usual rights for a created file (0666 less the umask).
  struct stat st;
  mode_t mode;
  if (stat(target_.c_str(), &st) == 0) {
    mode = st.st_mode & 07777;
  } else {
    const mode_t mask = umask(0);
    umask(mask);
    mode = 0666 & ~mask;
  }
  chmod(side_.c_str(), mode);
  stream_.reset();
  if (std::rename(side_.c_str(), target_.c_str()) != 0) {
    const std::string why = std::strerror(errno);
    Discard();
    throw EFCreateError("Cannot create file \"" + target_ + "\". " + why);
  }
  done_ = true;
  SyncDir(DirOf(target_));
}

bool KVSafeSave(const std::string& name, const std::function<void(TStream*)>& write, const bool* aborting) {
  TSafeFileSave f(name);
  write(f.Stream());
  if (aborting && *aborting) return false;
  f.Commit();
  return true;
}

}  // namespace korvane
