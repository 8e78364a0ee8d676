// Stream family: memory and file streams, the counting stream, the deflate
// streams, and length-prefixed string persistence.
#include <gtest/gtest.h>

#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <functional>
#include <memory>

#include "korvane/foundations/host/exceptions.h"
#include "korvane/foundations/host/streams.h"
#include "korvane/foundations/strpersist.h"

using namespace korvane;
namespace fs = std::filesystem;

namespace {

// A private temporary folder removed at the end of the test.
struct TempDir {
  fs::path path;
  TempDir() {
    path = fs::temp_directory_path() / ("kv_streams_" + std::to_string(::getpid()) + "_" +
                                        ::testing::UnitTest::GetInstance()->current_test_info()->name());
    fs::create_directories(path);
  }
  ~TempDir() { fs::remove_all(path); }
  std::string File(const char* name) const { return (path / name).string(); }
};

std::string Bytes(TMemoryStream& s) {
  return std::string(reinterpret_cast<const char*>(s.Memory()), size_t(s.Size()));
}

std::vector<uint8_t> Pattern(size_t n) {
  std::vector<uint8_t> v(n);
  for (size_t i = 0; i < n; ++i) v[i] = uint8_t((i * 7) ^ (i >> 5));
  return v;
}

}  // namespace

// ---------------------------------------------------------------------------
// The read/write/seek/size contract, for memory and file streams alike.

struct StreamKind {
  const char* name;
  std::function<std::unique_ptr<TStream>(const std::string& file)> make;
};

class StreamContract : public ::testing::TestWithParam<StreamKind> {
 protected:
  TempDir dir;
  std::unique_ptr<TStream> s = GetParam().make(dir.File("contract.bin"));
};

TEST_P(StreamContract, WriteSeekReadAndSize) {
  EXPECT_EQ(s->Size(), 0);
  EXPECT_EQ(s->Write("hello world", 11), 11);
  EXPECT_EQ(s->Position(), 11);
  EXPECT_EQ(s->Size(), 11);
  EXPECT_EQ(s->Seek(6, soBeginning), 6);
  char buf[16] = {};
  EXPECT_EQ(s->Read(buf, 16), 5);  // short read at the end
  EXPECT_STREQ(buf, "world");
  EXPECT_EQ(s->Read(buf, 4), 0);
  EXPECT_EQ(s->Seek(-5, soEnd), 6);
  EXPECT_EQ(s->Seek(-2, soCurrent), 4);
  s->Write("O", 1);  // overwrite in the middle
  s->SetPosition(0);
  std::memset(buf, 0, sizeof buf);
  s->ReadBuffer(buf, 11);
  EXPECT_STREQ(buf, "hellO world");
}

TEST_P(StreamContract, ReadThenWriteWithoutSeekWritesAtThePosition) {
  s->Write("abcdef", 6);
  s->SetPosition(0);
  char buf[2];
  s->ReadBuffer(buf, 2);
  s->Write("XY", 2);
  EXPECT_EQ(s->Position(), 4);
  char all[7] = {};
  s->SetPosition(0);
  s->ReadBuffer(all, 6);
  EXPECT_STREQ(all, "abXYef");
}

TEST_P(StreamContract, ShortReadBufferRaises) {
  s->Write("abc", 3);
  s->SetPosition(1);
  char buf[8];
  EXPECT_THROW(s->ReadBuffer(buf, 3), EReadError);
  s->SetPosition(0);
  EXPECT_NO_THROW(s->ReadBuffer(buf, 3));
  EXPECT_THROW(s->ReadBuffer(buf, -1), EReadError);
}

TEST_P(StreamContract, SetSizeTruncatesAndClampsPosition) {
  s->Write("0123456789", 10);
  s->SetSize(4);
  EXPECT_EQ(s->Size(), 4);
  EXPECT_LE(s->Position(), 4);
  s->SetPosition(0);
  char buf[8] = {};
  EXPECT_EQ(s->Read(buf, 8), 4);
  EXPECT_STREQ(buf, "0123");
}

INSTANTIATE_TEST_SUITE_P(
    Kinds, StreamContract,
    ::testing::Values(
        StreamKind{"memory", [](const std::string&) { return std::make_unique<TMemoryStream>(); }},
        StreamKind{"file", [](const std::string& f) { return std::make_unique<TFileStream>(f, fmCreate); }}),
    [](const ::testing::TestParamInfo<StreamKind>& i) { return std::string(i.param.name); });

// ---------------------------------------------------------------------------
// File streams

TEST(FileStream, ModesAndOpenErrors) {
  TempDir dir;
  const std::string f = dir.File("a.bin");
  EXPECT_THROW(TFileStream(f, fmOpenRead), EFOpenError);
  EXPECT_THROW(TFileStream(f, fmOpenReadWrite), EFOpenError);
  EXPECT_THROW(TFileStream(dir.File("no/such/dir.bin"), fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream(dir.path.string(), fmOpenRead), EFOpenError);  // a folder is not a file
  { TFileStream(f, fmCreate).WriteBuffer("12345678", 8); }
  {
    TFileStream rw(f, fmOpenReadWrite);  // existing contents kept
    EXPECT_EQ(rw.Size(), 8);
    rw.Seek(0, soEnd);
    rw.WriteBuffer("9", 1);
  }
  TFileStream ro(f, fmOpenRead);
  EXPECT_EQ(ro.Size(), 9);
  EXPECT_THROW(ro.WriteBuffer("x", 1), EWriteError);
  { TFileStream(f, fmCreate); }  // create truncates
  EXPECT_EQ(TFileStream(f, fmOpenRead).Size(), 0);
}

TEST(MemoryStream, SeekBeforeStartClampsAndWritePastEndFillsZeros) {
  TMemoryStream m;
  EXPECT_EQ(m.Seek(-4, soBeginning), 0);
  m.SetPosition(3);
  m.Write("z", 1);
  EXPECT_EQ(Bytes(m), std::string("\0\0\0z", 4));

  // Bytes cut off by a smaller size read back as zeros when the size grows
  // again, by SetSize or by a write past the end.
  m.SetSize(1);
  m.SetSize(3);
  EXPECT_EQ(Bytes(m), std::string("\0\0\0", 3));
  m.SetData("abcdef", 6);
  m.SetSize(2);
  m.SetPosition(4);
  m.Write("Z", 1);
  EXPECT_EQ(Bytes(m), std::string("ab\0\0Z", 5));

  // Copies own their bytes; a moved-from stream is empty; SetData may take
  // the stream's own bytes.
  TMemoryStream c(m);
  c.SetPosition(0);
  c.Write("X", 1);
  EXPECT_EQ(Bytes(m), std::string("ab\0\0Z", 5));
  TMemoryStream moved(std::move(c));
  EXPECT_EQ(c.Size(), 0);
  EXPECT_EQ(Bytes(moved), std::string("Xb\0\0Z", 5));
  moved.SetData(moved.Memory() + 1, 3);
  EXPECT_EQ(Bytes(moved), std::string("b\0\0", 3));
}

// ---------------------------------------------------------------------------
// The counting stream

TEST(NulStream, CountsWithoutStorage) {
  TNulStream n;
  EXPECT_EQ(n.Write(nullptr, 10), 10);  // touches no memory
  EXPECT_EQ(n.Seek(4, soBeginning), 4);
  n.Write(nullptr, 2);
  EXPECT_EQ(n.Position(), 6);
  EXPECT_EQ(n.Size(), 10);
  EXPECT_EQ(n.Seek(0, soEnd), 10);
  EXPECT_EQ(n.Seek(5, soCurrent), 15);  // seeking past the end raises the size
  EXPECT_EQ(n.Size(), 15);
  EXPECT_EQ(n.Read(nullptr, 5), 5);
  EXPECT_EQ(n.Size(), 20);
}

TEST(NulStream, MeasuresOutputBeyondTwoGigabytes) {
  TNulStream n;
  const int64_t big = int64_t(3) << 30;
  n.Write(nullptr, big);
  n.Write(nullptr, big);
  EXPECT_EQ(n.Size(), 2 * big);
  EXPECT_EQ(n.Position(), 2 * big);
}

// ---------------------------------------------------------------------------
// Deflate streams

TEST(DeflateStreams, RoundTripAndTrailingDataLeftInPlace) {
  auto data = Pattern(200000);
  TMemoryStream packed;
  {
    TCompressionStream z(clMaxCompression, &packed);
    z.WriteBuffer(data.data(), 1000);
    z.WriteBuffer(data.data() + 1000, int64_t(data.size()) - 1000);
    EXPECT_EQ(z.Position(), int64_t(data.size()));
  }
  EXPECT_LT(packed.Size(), int64_t(data.size()) / 4);
  packed.WriteBuffer("TAIL", 4);
  packed.SetPosition(0);

  TDecompressionStream u(&packed);
  std::vector<uint8_t> out(data.size());
  u.ReadBuffer(out.data(), 70000);
  EXPECT_EQ(u.Seek(10000, soCurrent), 80000);  // forward seek skips
  u.ReadBuffer(out.data() + 80000, int64_t(out.size()) - 80000);
  EXPECT_EQ(std::memcmp(out.data() + 80000, data.data() + 80000, out.size() - 80000), 0);
  EXPECT_EQ(std::memcmp(out.data(), data.data(), 70000), 0);
  char extra;
  EXPECT_EQ(u.Read(&extra, 1), 0);
  // The source stands right after the compressed data.
  char tail[5] = {};
  packed.ReadBuffer(tail, 4);
  EXPECT_STREQ(tail, "TAIL");
  // Seek(0) starts over.
  EXPECT_EQ(u.Seek(0, soBeginning), 0);
  uint8_t first[16];
  u.ReadBuffer(first, 16);
  EXPECT_EQ(std::memcmp(first, data.data(), 16), 0);
}

struct Damage {
  const char* what;
  std::function<void(std::string&)> apply;
};
class CorruptDeflate : public ::testing::TestWithParam<Damage> {};

TEST_P(CorruptDeflate, RaisesZlibError) {
  auto data = Pattern(50000);
  TMemoryStream packed;
  {
    TCompressionStream z(clDefaultLevel, &packed);
    z.WriteBuffer(data.data(), int64_t(data.size()));
  }
  std::string bytes = Bytes(packed);
  GetParam().apply(bytes);
  TMemoryStream src;
  src.SetData(bytes.data(), bytes.size());
  TDecompressionStream u(&src);
  std::vector<uint8_t> out(data.size());
  EXPECT_THROW(u.ReadBuffer(out.data(), int64_t(out.size())), EZlibError) << GetParam().what;
}

INSTANTIATE_TEST_SUITE_P(Damages, CorruptDeflate,
                         ::testing::Values(Damage{"bad header", [](std::string& b) { b[0] = 0x12; }},
                                           Damage{"truncated",
                                                  [](std::string& b) { b.resize(b.size() / 2); }},
                                           Damage{"empty", [](std::string& b) { b.clear(); }},
                                           Damage{"flipped bytes", [](std::string& b) {
                                                    for (size_t i = 2; i < b.size(); i += 3)
                                                      b[i] = char(b[i] ^ 0x5A);
                                                  }}));

// ---------------------------------------------------------------------------
// String persistence

TEST(StringPersistence, EmptyTextIsFourZeroBytes) {
  TMemoryStream m;
  SaveStringToStream(&m, "");
  EXPECT_EQ(Bytes(m), std::string(4, '\0'));
  SaveStringToStream(&m, "ab");
  EXPECT_EQ(Bytes(m).substr(4), std::string("\x02\0\0\0ab", 6));
}

TEST(StringPersistence, RoundTripKeepsEveryByte) {
  const std::string texts[] = {"", "x", std::string("nul\0inside", 10), "Prévisualisation",
                               std::string(70000, 'q')};
  TMemoryStream m;
  for (const auto& t : texts) SaveStringToStream(&m, t);
  m.SetPosition(0);
  for (const auto& t : texts) {
    std::string back = "stale";
    LoadStringFromStream(&m, back);
    EXPECT_EQ(back, t);
  }
}

TEST(StringPersistence, RoundTripThroughDeflateStreams) {
  // Streams that cannot tell their size (decompression) must load too.
  TMemoryStream packed;
  {
    TCompressionStream z(clDefaultLevel, &packed);
    SaveStringToStream(&z, "first");
    SaveStringToStream(&z, std::string(100000, 'w'));
  }
  packed.SetPosition(0);
  TDecompressionStream u(&packed);
  std::string a, b;
  LoadStringFromStream(&u, a);
  LoadStringFromStream(&u, b);
  EXPECT_EQ(a, "first");
  EXPECT_EQ(b, std::string(100000, 'w'));
}

struct HostileLength {
  const char* what;
  std::string bytes;
  bool raises;
  std::string text;
};
class StringPersistenceHostile : public ::testing::TestWithParam<HostileLength> {};

TEST_P(StringPersistenceHostile, NeverOverreads) {
  const auto& c = GetParam();
  TMemoryStream m;
  m.SetData(c.bytes.data(), c.bytes.size());
  std::string text;
  if (c.raises) {
    EXPECT_THROW(LoadStringFromStream(&m, text), EReadError) << c.what;
  } else {
    LoadStringFromStream(&m, text);
    EXPECT_EQ(text, c.text) << c.what;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Lengths, StringPersistenceHostile,
    ::testing::Values(HostileLength{"huge length, three bytes",
                                    std::string("\xFF\xFF\xFF\x7F"
                                                "abc",
                                                7),
                                    true, ""},
                      HostileLength{"one byte short", std::string("\x04\0\0\0abc", 7), true, ""},
                      HostileLength{"negative length reads empty",
                                    std::string("\xFE\xFF\xFF\xFF"
                                                "abc",
                                                7),
                                    false, ""},
                      HostileLength{"truncated length", std::string("\x01\0", 2), true, ""},
                      HostileLength{"exact", std::string("\x03\0\0\0abc", 7), false, "abc"}));
