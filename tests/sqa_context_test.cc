// The container context: creation in each mode, refusal of other files, the
// codec data header on disk, the layer's positioning, and sharing.
#include <gtest/gtest.h>

#include <cstring>

#include "container_support.h"
#include "sqa_internal.h"
#include "tlx_system.h"

namespace tagkit_test {
namespace {

const Bytes kFrames = Frame23("TIT2", TextData("Container title"));

Bytes ContainerFile(const CodecHeaderFields& fields = CodecHeaderFields()) {
  return Concat({Kq7Tag(kFrames, 40), CodecHeader(fields), Audio(3000)});
}

class SqaContextTest : public ::testing::Test {
 protected:
  void SetUp() override { memset(&ctx_, 0, sizeof(ctx_)); }
  void TearDown() override {
    if (ctx_.path != nullptr) {
      EXPECT_EQ(0, tlx_sqa_destroy_context(&ctx_));
    }
  }
  int32_t Create(const Bytes& content, int32_t mode) {
    WriteFile(file_, content);
    return tlx_sqa_create_context(wfile_.c_str(), mode, 0, nullptr, &ctx_);
  }

  TempDir dir_;
  std::string file_ = dir_.File("song.sqa");
  std::wstring wfile_ = dir_.WFile("song.sqa");
  tlx_sqa_context ctx_;
};

TEST_F(SqaContextTest, ReadModeOpensAContainerFile) {
  ASSERT_EQ(0, Create(ContainerFile(), TLX_SQA_MODE_READ));
  EXPECT_EQ(TLX_SQA_MODE_READ, ctx_.mode);
  EXPECT_EQ(ctx_.id3.fd, ctx_.fd);
  uint32_t size = 0;
  ASSERT_EQ(0, tlx_sqa_get_tag_size(&ctx_, &size));
  EXPECT_EQ(10 + kFrames.size() + 40, size);
  ASSERT_EQ(0, tlx_sqa_get_padding_size(&ctx_, &size));
  EXPECT_EQ(40u, size);
  tlx_sqa_codec_data_header header;
  ASSERT_EQ(0, tlx_sqa_get_codec_data_header(&ctx_, &header));
  EXPECT_EQ(1u, header.codec);
  EXPECT_EQ(44100u, header.info.codec1.sampling_rate);
  EXPECT_EQ(768u, header.info.codec1.frame_size);
  uint32_t tag_end = static_cast<uint32_t>(Kq7Tag(kFrames, 40).size());
  ASSERT_EQ(0, tlx_sqa_get_codec_data_header_size(&ctx_, tag_end, &size));
  EXPECT_EQ(96u, size);
  EXPECT_EQ(6, tlx_sqa_get_codec_data_header_size(&ctx_, 0, &size));
  EXPECT_EQ(2, tlx_sqa_get_codec_data_header_size(&ctx_, tag_end + 5000, &size));
}

TEST_F(SqaContextTest, ReadModeAcceptsAFileWithoutTag) {
  ASSERT_EQ(0, Create(Concat({CodecHeader(), Audio(100)}), TLX_SQA_MODE_READ));
  uint32_t size = 1;
  ASSERT_EQ(0, tlx_sqa_get_tag_size(&ctx_, &size));
  EXPECT_EQ(0u, size);
}

TEST_F(SqaContextTest, OtherFilesAreRefusedWithoutTouchingThem) {
  struct Row {
    const char* name;
    Bytes content;
  };
  CodecHeaderFields bad_version;
  bad_version.version = 2;
  CodecHeaderFields bad_size;
  bad_size.size = 64;
  CodecHeaderFields bad_codec;
  bad_codec.codec = 5;
  Bytes whole = ContainerFile();
  std::size_t tag_end = Kq7Tag(kFrames, 40).size();
  const Row rows[] = {
      {"plain MP3", Concat({Id3v2Tag(3, 0, kFrames), Audio(3000)})},
      {"no codec header", Concat({Kq7Tag(kFrames, 40), Audio(3000)})},
      {"version 2", ContainerFile(bad_version)},
      {"header size 64", ContainerFile(bad_size)},
      {"codec 5", ContainerFile(bad_codec)},
      {"ends inside the header", Bytes(whole.begin(), whole.begin() + tag_end + 50)},
      {"ends with the tag", Bytes(whole.begin(), whole.begin() + tag_end)},
      {"ID3v2.4 tag", Concat({Id3v2Tag(4, 0, kFrames), CodecHeader()})},
  };
  for (const Row& row : rows) {
    SCOPED_TRACE(row.name);
    int32_t rc = Create(row.content, TLX_SQA_MODE_READ);
    EXPECT_EQ(TLX_SQA_E_FORMAT, rc);
    EXPECT_EQ(nullptr, ctx_.path);
    EXPECT_EQ(nullptr, ctx_.backup_path);
    EXPECT_EQ(row.content, ReadFile(file_));
    // The refused context let go of the file: a writer may open it.
    tlx_sqa_context writer;
    ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_WRITE, 0, nullptr, &writer));
    EXPECT_EQ(0, tlx_sqa_destroy_context(&writer));
  }
}

TEST_F(SqaContextTest, ReadingAHeaderNeverGrowsTheFile) {
  Bytes whole = ContainerFile();
  Bytes cut(whole.begin(), whole.begin() + Kq7Tag(kFrames, 40).size() + 95);
  ASSERT_EQ(0, Create(cut, TLX_SQA_MODE_WRITE));
  tlx_sqa_codec_data_header header;
  EXPECT_EQ(9, tlx_sqa_get_codec_data_header(&ctx_, &header));
  uint32_t size;
  EXPECT_EQ(2, tlx_sqa_get_codec_data_header_size(&ctx_, static_cast<uint32_t>(cut.size()), &size));
  EXPECT_EQ(cut, ReadFile(file_));
}

TEST_F(SqaContextTest, CreateModeWritesAnEmptyContainerTag) {
  ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_CREATE, 500, nullptr, &ctx_));
  Bytes created = ReadFile(file_);
  ASSERT_EQ(510u, created.size());
  EXPECT_EQ(Kq7Tag({}, 500), created);
  // A header written now lands right behind the tag and reads back.
  tlx_sqa_codec_data_header header;
  Bytes stored = CodecHeader();
  ASSERT_EQ(0, tlx_sqa_parse_codec_data_header(stored.data(), &header));
  ASSERT_EQ(0, tlx_sqa_set_codec_data_header(&ctx_, &header));
  EXPECT_EQ(Concat({Kq7Tag({}, 500), stored}), ReadFile(file_));
  // The new file takes frames like any other.
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  ASSERT_EQ(0, PutFrame(&ctx_.id3, "TIT2", Bytes(kFrames.begin() + 10, kFrames.end())));
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  // 26 bytes of frames: the rewrite's padding (1024 - 36 % 16) stays.
  EXPECT_EQ(Concat({Kq7Tag(kFrames, 1020), stored}), ReadFile(file_));
  ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));
  ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_READ, 0, nullptr, &ctx_));
  tlx_sqa_codec_data_header again;
  ASSERT_EQ(0, tlx_sqa_get_codec_data_header(&ctx_, &again));
  EXPECT_EQ(0, std::memcmp(&header, &again, sizeof(header)));
}

TEST_F(SqaContextTest, CreateModeRefusesAnExistingFile) {
  Bytes content = ContainerFile();
  EXPECT_EQ(1, Create(content, TLX_SQA_MODE_CREATE));
  EXPECT_EQ(nullptr, ctx_.path);
  EXPECT_EQ(content, ReadFile(file_));
}

#if defined(TLX_FAULT_INJECTION)
TEST_F(SqaContextTest, AFailedCreationLeavesNoFileBehind) {
  // Every write of a creation fails in turn, the last one being the magic:
  // the half-made file goes.
  tlx_fault_reset();
  ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_CREATE, 5000, nullptr, &ctx_));
  std::uint32_t writes = tlx_fault_calls(TLX_FAULT_WRITE);
  ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));
  for (std::uint32_t nth = 1; nth <= writes; ++nth) {
    SCOPED_TRACE(nth);
    std::remove(file_.c_str());
    tlx_fault_reset();
    tlx_fault_arm(TLX_FAULT_WRITE, nth);
    EXPECT_EQ(3, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_CREATE, 5000, nullptr, &ctx_));
    EXPECT_EQ(nullptr, ctx_.path);
    EXPECT_FALSE(FileExists(file_));
  }
  tlx_fault_reset();
}
#endif

TEST_F(SqaContextTest, WriteModeReplacesOnlyTheHeaderBytes) {
  Bytes before = ContainerFile();
  ASSERT_EQ(0, Create(before, TLX_SQA_MODE_WRITE));
  tlx_sqa_codec_data_header header;
  ASSERT_EQ(0, tlx_sqa_get_codec_data_header(&ctx_, &header));
  header.codec = 0;
  header.info.codec0 = {1, 0, 44100, 4096};
  ASSERT_EQ(0, tlx_sqa_set_codec_data_header(&ctx_, &header));
  Bytes after = ReadFile(file_);
  std::size_t at = Kq7Tag(kFrames, 40).size();
  ASSERT_EQ(before.size(), after.size());
  EXPECT_TRUE(std::equal(before.begin(), before.begin() + at, after.begin()));
  EXPECT_TRUE(std::equal(before.begin() + at + 96, before.end(), after.begin() + at + 96));
  EXPECT_EQ(0, after[at + 32]);
  EXPECT_EQ(0x02, after[at + 33]);
  EXPECT_EQ(0x22, after[at + 34]);
  EXPECT_EQ(0x00, after[at + 35]);

  // A record that cannot be stored writes nothing.
  header.encryption_id = 0;
  EXPECT_EQ(7, tlx_sqa_set_codec_data_header(&ctx_, &header));
  EXPECT_EQ(after, ReadFile(file_));
}

TEST_F(SqaContextTest, UnknownModeOpensReadOnly) {
  Bytes content = ContainerFile();
  ASSERT_EQ(0, Create(content, 7));
  EXPECT_EQ(TLX_SQA_MODE_READ, ctx_.mode);
  tlx_sqa_codec_data_header header;
  ASSERT_EQ(0, tlx_sqa_get_codec_data_header(&ctx_, &header));
  EXPECT_EQ(10, tlx_sqa_set_codec_data_header(&ctx_, &header));
  EXPECT_EQ(10, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(content, ReadFile(file_));
}

TEST_F(SqaContextTest, SeparateContextsOnOneFileRefuseEachOther) {
  ASSERT_EQ(0, Create(ContainerFile(), TLX_SQA_MODE_WRITE));
  tlx_sqa_context other;
  EXPECT_EQ(1, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_WRITE, 0, nullptr, &other));
  EXPECT_EQ(1, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_READ, 0, nullptr, &other));
  ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));

  // Readers share the file with each other but not with a writer.
  ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_READ, 0, nullptr, &ctx_));
  ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_READ, 0, nullptr, &other));
  tlx_sqa_context writer;
  EXPECT_EQ(1, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_WRITE, 0, nullptr, &writer));
  EXPECT_EQ(0, tlx_sqa_destroy_context(&other));
}

TEST_F(SqaContextTest, SeekGrowsTheFileWithZeros) {
  ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_CREATE, 30, nullptr, &ctx_));
  EXPECT_EQ(40, tlx_sqa_seek_content(&ctx_, 100, 0));
  Bytes grown = ReadFile(file_);
  ASSERT_EQ(100u, grown.size());
  EXPECT_EQ(Bytes(60, 0), Bytes(grown.begin() + 40, grown.end()));

#if defined(TLX_FAULT_INJECTION)
  // A failed positioning fills nothing; a failed fill is told apart.
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_SEEK, 1);
  EXPECT_EQ(-1, tlx_sqa_seek_content(&ctx_, 300, 0));
  tlx_fault_arm(TLX_FAULT_WRITE, 1);
  EXPECT_EQ(-3, tlx_sqa_seek_content(&ctx_, 300, 0));
  tlx_fault_reset();
  EXPECT_EQ(100u, ReadFile(file_).size());
#endif
}

}  // namespace
}  // namespace tagkit_test
