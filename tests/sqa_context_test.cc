// The container context: creation in each mode, refusal of other files, the
// codec data header on disk and the layer's positioning. Sharing between
// contexts is the engine's (id3_context_test.cc).
#include <gtest/gtest.h>

#include <cstdio>

#include "container_support.h"

namespace tagkit_test {
namespace {

const Bytes kFrames = Frame23("TIT2", TextData("Container title"));
const Bytes kTag = Kq7Tag(kFrames, 40);
const Bytes kFile = Concat({kTag, CodecHeader(), Audio(3000)});
const std::size_t kAt = kTag.size();  // where the codec data header begins

Bytes Prefix(std::size_t length) { return Bytes(kFile.begin(), kFile.begin() + length); }

using SqaContextTest = SqaFileTest;

TEST_F(SqaContextTest, ReadModeOpensContainerFilesWithOrWithoutTag) {
  ASSERT_EQ(0, Create(kFile, 7));  // any unknown mode reads only
  uint32_t size = 0;
  ASSERT_EQ(0, tlx_sqa_get_tag_size(&ctx_, &size));
  EXPECT_EQ(kAt, size);
  ASSERT_EQ(0, tlx_sqa_get_padding_size(&ctx_, &size));
  EXPECT_EQ(40u, size);
  tlx_sqa_codec_data_header header;
  ASSERT_EQ(0, tlx_sqa_get_codec_data_header(&ctx_, &header));
  EXPECT_EQ(768u, header.info.codec1.frame_size);
  ASSERT_EQ(0, tlx_sqa_get_codec_data_header_size(&ctx_, kAt, &size));
  EXPECT_EQ(96u, size);
  EXPECT_EQ(TLX_SQA_E_FORMAT, tlx_sqa_get_codec_data_header_size(&ctx_, 0, &size));
  EXPECT_EQ(TLX_ID3_E_READ, tlx_sqa_get_codec_data_header_size(&ctx_, kAt + 5000, &size));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_sqa_set_codec_data_header(&ctx_, &header));
  EXPECT_EQ(TLX_ID3_E_PARAM, tlx_sqa_edit_begin(&ctx_));
  EXPECT_EQ(kFile, ReadFile(file_));
  ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));
  ASSERT_EQ(0, Create(Concat({CodecHeader(), Audio(100)}), TLX_SQA_MODE_READ));
  ASSERT_EQ(0, tlx_sqa_get_tag_size(&ctx_, &size));
  EXPECT_EQ(0u, size);
}

TEST_F(SqaContextTest, OtherFilesAreRefusedWithoutTouchingThem) {
  Bytes small_header = kFile;
  small_header[kAt + 5] = 64;
  const struct {
    const char* name;
    Bytes content;
  } rows[] = {
      {"plain MP3", Concat({Id3v2Tag(3, 0, kFrames), Audio(3000)})},
      {"no codec header", Concat({kTag, Audio(3000)})},
      {"header size 64", small_header},
      {"ends inside the header", Prefix(kAt + 50)},
      {"ends with the tag", Prefix(kAt)},
      {"ID3v2.4 tag", Concat({Id3v2Tag(4, 0, kFrames), CodecHeader()})},
  };
  for (const auto& row : rows) {
    SCOPED_TRACE(row.name);
    EXPECT_EQ(TLX_SQA_E_FORMAT, Create(row.content, TLX_SQA_MODE_READ));
    EXPECT_EQ(nullptr, ctx_.path);
    EXPECT_EQ(row.content, ReadFile(file_));
    // The refused context let go of the file: a writer may open it.
    tlx_sqa_context writer;
    ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_WRITE, 0, nullptr, &writer));
    EXPECT_EQ(0, tlx_sqa_destroy_context(&writer));
  }
}

TEST_F(SqaContextTest, WriteModeReplacesOnlyTheHeaderBytes) {
  ASSERT_EQ(0, Create(kFile, TLX_SQA_MODE_WRITE));
  tlx_sqa_codec_data_header header;
  ASSERT_EQ(0, tlx_sqa_get_codec_data_header(&ctx_, &header));
  header.codec = 0;
  header.info.codec0 = {1, 0, 44100, 4096};
  ASSERT_EQ(0, tlx_sqa_set_codec_data_header(&ctx_, &header));
  Bytes expected = kFile;
  const std::uint8_t codec_bytes[] = {0, 0x02, 0x22, 0x00};
  std::copy(codec_bytes, codec_bytes + 4, expected.begin() + kAt + 32);
  EXPECT_EQ(expected, ReadFile(file_));
  // A record that cannot be stored writes nothing.
  header.encryption_id = 0;
  EXPECT_EQ(TLX_ID3_E_UNSUPPORTED, tlx_sqa_set_codec_data_header(&ctx_, &header));
  EXPECT_EQ(expected, ReadFile(file_));
  // Queries position for reading without filling: a file that ends inside
  // the header does not grow.
  ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));
  ASSERT_EQ(0, Create(Prefix(kAt + 95), TLX_SQA_MODE_WRITE));
  EXPECT_EQ(TLX_ID3_E_NOT_FOUND, tlx_sqa_get_codec_data_header(&ctx_, &header));
  uint32_t size;
  EXPECT_EQ(TLX_ID3_E_READ, tlx_sqa_get_codec_data_header_size(&ctx_, kAt + 95, &size));
  EXPECT_EQ(Prefix(kAt + 95), ReadFile(file_));
}

TEST_F(SqaContextTest, CreateModeMakesAnEmptyContainerFileButNeverReplacesOne) {
  EXPECT_EQ(TLX_ID3_E_OPEN, Create(kFile, TLX_SQA_MODE_CREATE));
  EXPECT_EQ(kFile, ReadFile(file_));
  std::remove(file_.c_str());
  ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_CREATE, 500, nullptr, &ctx_));
  EXPECT_EQ(Kq7Tag({}, 500), ReadFile(file_));
  // A header written now lands right behind the tag, and the new file takes
  // frames like any other (the rewrite's padding: 1024 - 36 % 16).
  tlx_sqa_codec_data_header header;
  ASSERT_EQ(0, tlx_sqa_parse_codec_data_header(CodecHeader().data(), &header));
  ASSERT_EQ(0, tlx_sqa_set_codec_data_header(&ctx_, &header));
  EXPECT_EQ(Concat({Kq7Tag({}, 500), CodecHeader()}), ReadFile(file_));
  ASSERT_EQ(0, tlx_sqa_edit_begin(&ctx_));
  ASSERT_EQ(0, PutFrame(&ctx_.id3, "TIT2", TextData("Container title")));
  ASSERT_EQ(0, tlx_sqa_edit_end(&ctx_));
  EXPECT_EQ(Concat({Kq7Tag(kFrames, 1020), CodecHeader()}), ReadFile(file_));
}

TEST_F(SqaContextTest, SeekGrowsTheFileWithZeros) {
  ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_CREATE, 30, nullptr, &ctx_));
  EXPECT_EQ(40, tlx_sqa_seek_content(&ctx_, 700, 0));  // 660 zeros, over 256-byte writes
  EXPECT_EQ(Concat({Kq7Tag({}, 30), Bytes(660, 0)}), ReadFile(file_));
#if defined(TLX_FAULT_INJECTION)
  // A failed positioning fills nothing; a failed fill is told apart.
  tlx_fault_reset();
  tlx_fault_arm(TLX_FAULT_SEEK, 1);
  EXPECT_EQ(-1, tlx_sqa_seek_content(&ctx_, 900, 0));
  tlx_fault_arm(TLX_FAULT_WRITE, 1);
  EXPECT_EQ(-3, tlx_sqa_seek_content(&ctx_, 900, 0));
  EXPECT_EQ(700u, ReadFile(file_).size());
#endif
}

#if defined(TLX_FAULT_INJECTION)
// Every write of a creation fails in turn, the last one being the magic: the
// half-made file goes.
TEST_F(SqaContextTest, AFailedCreationLeavesNoFileBehind) {
  tlx_fault_reset();
  ASSERT_EQ(0, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_CREATE, 5000, nullptr, &ctx_));
  const std::uint32_t writes = tlx_fault_calls(TLX_FAULT_WRITE);
  ASSERT_EQ(0, tlx_sqa_destroy_context(&ctx_));
  for (std::uint32_t nth = 1; nth <= writes; ++nth) {
    SCOPED_TRACE(nth);
    std::remove(file_.c_str());
    tlx_fault_reset();
    tlx_fault_arm(TLX_FAULT_WRITE, nth);
    EXPECT_EQ(TLX_ID3_E_WRITE, tlx_sqa_create_context(wfile_.c_str(), TLX_SQA_MODE_CREATE, 5000, nullptr, &ctx_));
    EXPECT_EQ(nullptr, ctx_.path);
    EXPECT_FALSE(FileExists(file_));
  }
}
#endif

}  // namespace
}  // namespace tagkit_test
