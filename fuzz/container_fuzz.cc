// The container layer: context creation and the codec data header, read
// and, where it can be written, written back and read again unchanged.
#include <cstring>
#include <string>

#include "fuzz_common.h"
#include "tlx_sqa.h"

namespace {

using tagkit_fuzz::Fail;

const char kTarget[] = "container";

bool SameHeader(const tlx_sqa_codec_data_header& a, const tlx_sqa_codec_data_header& b) {
  return a.version == b.version && std::memcmp(a.block_8, b.block_8, sizeof a.block_8) == 0 &&
         a.codec == b.codec && a.info.codec1.sampling_rate == b.info.codec1.sampling_rate &&
         a.info.codec1.channel_config == b.info.codec1.channel_config &&
         a.info.codec1.frame_size == b.info.codec1.frame_size &&
         a.info.codec1.unused == b.info.codec1.unused && a.encryption_id == b.encryption_id &&
         std::memcmp(a.block_88, b.block_88, sizeof a.block_88) == 0;
}

void Query(tlx_sqa_context* ctx, std::uint32_t file_size) {
  std::uint32_t tag_size = 0;
  tlx_sqa_get_tag_size(ctx, &tag_size);
  std::uint32_t padding = 0;
  tlx_sqa_get_padding_size(ctx, &padding);
  std::uint32_t header_size = 0;
  tlx_sqa_get_codec_data_header_size(ctx, tag_size, &header_size);
  tlx_sqa_get_codec_data_header_size(ctx, 0, &header_size);
  tlx_sqa_get_codec_data_header_size(ctx, file_size, &header_size);
  tlx_sqa_codec_data_header header;
  tlx_sqa_get_codec_data_header(ctx, &header);
}

// A header that reads and may be written (encryption id 1) is written back
// and must read again as it was.
void RoundTrip(const std::wstring& path) {
  tlx_sqa_context ctx;
  std::memset(&ctx, 0, sizeof ctx);
  if (tlx_sqa_create_context(path.c_str(), TLX_SQA_MODE_WRITE, 0, nullptr, &ctx) != TLX_ID3_OK) {
    return;
  }
  tlx_sqa_codec_data_header header;
  std::memset(&header, 0, sizeof header);
  if (tlx_sqa_get_codec_data_header(&ctx, &header) == TLX_ID3_OK && header.encryption_id == 1) {
    int32_t rc = tlx_sqa_set_codec_data_header(&ctx, &header);
    if (rc != TLX_ID3_OK) {
      Fail(kTarget, "a header that reads cannot be written back: " + std::to_string(rc));
    }
    tlx_sqa_codec_data_header again;
    std::memset(&again, 0, sizeof again);
    if (tlx_sqa_get_codec_data_header(&ctx, &again) != TLX_ID3_OK || !SameHeader(header, again)) {
      Fail(kTarget, "a header written back reads differently");
    }
  }
  if (tlx_sqa_destroy_context(&ctx) != TLX_ID3_OK) Fail(kTarget, "destroy failed");
}

}  // namespace

extern "C" int TagkitFuzzContainer(const std::uint8_t* data, std::size_t size) {
  const std::string path = tagkit_fuzz::WriteInput(data, size);
  const std::wstring wide = tagkit_fuzz::Wide(path);
  const std::uint32_t file_size = static_cast<std::uint32_t>(size);
  tlx_sqa_context ctx;
  std::memset(&ctx, 0, sizeof ctx);
  if (tlx_sqa_create_context(wide.c_str(), TLX_SQA_MODE_READ, 0, nullptr, &ctx) == TLX_ID3_OK) {
    Query(&ctx, file_size);
    if (tlx_sqa_destroy_context(&ctx) != TLX_ID3_OK) Fail(kTarget, "destroy failed");
  }
  RoundTrip(wide);
  return 0;
}

#ifndef TAGKIT_FUZZ_NO_MAIN
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  return TagkitFuzzContainer(data, size);
}
#endif
