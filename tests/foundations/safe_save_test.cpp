// The one path by which a save replaces a file: the old file survives every
// failure, and a finished save keeps the replaced file's rights and links.
#include "korvane/foundations/host/safe_save.h"

#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <string>

#include "korvane/foundations/host/exceptions.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() / ("kv_safesave_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::remove_all(path);
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  std::string File(const char* name) const { return (path / name).string(); }
  // Every entry of the folder, side files included.
  size_t Entries() const {
    return size_t(std::distance(fs::directory_iterator(path), fs::directory_iterator()));
  }
};

std::string Read(const std::string& name) {
  std::ifstream f(name, std::ios::binary);
  std::stringstream ss;
  ss << f.rdbuf();
  return ss.str();
}

void Write(const std::string& name, const std::string& data) {
  std::ofstream f(name, std::ios::binary);
  f << data;
}

void Put(TStream* s, const std::string& data) { s->WriteBuffer(data.data(), int64_t(data.size())); }

}  // namespace

TEST(SafeSave, ReplacesOnlyWhenTheWriterFinishes) {
  TempDir d;
  const std::string name = d.File("picture.bin");
  Write(name, "old contents");

  // A writer that raises half-way: the exception passes on, the old file stays
  // and no side file is left behind.
  EXPECT_THROW(KVSafeSave(name,
                          [](TStream* s) {
                            Put(s, "half of the new");
                            throw std::runtime_error("encoder failed");
                          }),
               std::runtime_error);
  EXPECT_EQ(Read(name), "old contents");
  EXPECT_EQ(d.Entries(), 1u);

  // An aborted save is not committed either.
  bool aborting = false;
  EXPECT_FALSE(KVSafeSave(
      name,
      [&](TStream* s) {
        Put(s, "new");
        aborting = true;
      },
      &aborting));
  EXPECT_EQ(Read(name), "old contents");
  EXPECT_EQ(d.Entries(), 1u);

  // A finished save replaces the contents, shorter ones included.
  EXPECT_TRUE(KVSafeSave(name, [](TStream* s) { Put(s, "new"); }));
  EXPECT_EQ(Read(name), "new");
  EXPECT_EQ(d.Entries(), 1u);

  // A failed or aborted save to a new name leaves no file at all.
  const std::string fresh = d.File("fresh.bin");
  aborting = true;
  EXPECT_FALSE(KVSafeSave(
      fresh, [](TStream* s) { Put(s, "x"); }, &aborting));
  EXPECT_FALSE(fs::exists(fresh));
  EXPECT_EQ(d.Entries(), 1u);
}

TEST(SafeSave, KeepsPermissionBitsAndReplacesTheTargetOfALink) {
  TempDir d;
  const std::string target = d.File("real.bin");
  Write(target, "old");
  ASSERT_EQ(chmod(target.c_str(), 0640), 0);
  const std::string link = d.File("link.bin");
  fs::create_symlink("real.bin", link);  // relative, as users make them

  EXPECT_TRUE(KVSafeSave(link, [](TStream* s) { Put(s, "through the link"); }));
  EXPECT_TRUE(fs::is_symlink(link));
  EXPECT_EQ(Read(target), "through the link");
  struct stat st;
  ASSERT_EQ(stat(target.c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0640u);

  // A folder is refused before anything is written.
  EXPECT_THROW(TSafeFileSave{d.path.string()}, EFCreateError);
  EXPECT_THROW(TSafeFileSave{d.File("no-such-folder/x.bin")}, EFCreateError);
}

TEST(SafeSave, AWriteErrorAtFlushLeavesTheOldFile) {
  // A file-size limit makes the kernel refuse the data the way a full disk
  // does, once the buffered bytes reach it: the flush before the rename must
  // see that.
  TempDir d;
  const std::string name = d.File("big.bin");
  Write(name, "the user's data");
  struct rlimit old;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old), 0);
  auto previous = std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit lim = old;
  lim.rlim_cur = 4096;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &lim), 0);
  bool raised = false;
  try {
    KVSafeSave(name, [](TStream* s) {
      Put(s, std::string(3000, 'a'));
      Put(s, std::string(3000, 'b'));
    });
  } catch (const EStreamError&) {
    raised = true;
  }
  setrlimit(RLIMIT_FSIZE, &old);
  std::signal(SIGXFSZ, previous);
  EXPECT_TRUE(raised);
  EXPECT_EQ(Read(name), "the user's data");
  EXPECT_EQ(d.Entries(), 1u);
}
