// The 96-byte codec data header: decoding what is stored, encoding a record.
//
//   0-2   "KQ7"            3     version (1)
//   4-5   header size, BE  6-7   encryption id, BE
//   8-31  carried          32    codec number
//   33-35 codec parameters 36-87 zero
//   88-95 carried
//
// Codec parameters: byte 34 bits 7-5 hold the sampling-rate index, bits 4-2
// the channel configuration (codec 1), bits 1-0 with byte 35 a 10-bit frame
// size value v; codec 1 frames are 8v + 8 bytes, codec 0 frames 8v bytes.
// Codec 0 keeps its two flags in byte 33 (bit 1 flag_a, bit 0 flag_b) and is
// always 44100 Hz (index 1).
#include <string.h>

#include "sqa_internal.h"

namespace {

const uint8_t kMagic[3] = {'K', 'Q', '7'};
const uint32_t kRates[3] = {32000, 44100, 48000};
const uint32_t kRate44100Index = 1;
const uint32_t kMaxFrameValue = 0x3FF;  // 10 bits

}  // namespace

extern "C" {

int32_t tlx_sqa_parse_codec_info(const uint8_t bytes[96], tlx_sqa_codec_data_header* header) {
  static const char kName[] = "tlx_sqa_parse_codec_info";
  uint32_t codec = bytes[32];
  if (codec != TLX_SQA_CODEC_0 && codec != TLX_SQA_CODEC_1) {
    tlx_sqa_trace_error("in %s() not support codec.", kName);
    return TLX_ID3_E_UNSUPPORTED;
  }
  uint32_t rate_index = bytes[34] >> 5;
  uint32_t v = (static_cast<uint32_t>(bytes[34] & 0x03) << 8) | bytes[35];
  header->codec = codec;
  memset(&header->info, 0, sizeof(header->info));
  if (codec == TLX_SQA_CODEC_1) {
    if (rate_index > 2) {
      tlx_sqa_trace_error("in %s() not support sampling rate.", kName);
      return TLX_ID3_E_UNSUPPORTED;
    }
    header->info.codec1.sampling_rate = kRates[rate_index];
    header->info.codec1.channel_config = (bytes[34] >> 2) & 0x07;
    header->info.codec1.frame_size = 8 * v + 8;
  } else {
    if (rate_index != kRate44100Index) {
      tlx_sqa_trace_error("in %s() not support sampling rate.", kName);
      return TLX_ID3_E_UNSUPPORTED;
    }
    header->info.codec0.flag_a = (bytes[33] >> 1) & 0x01;
    header->info.codec0.flag_b = bytes[33] & 0x01;
    header->info.codec0.sampling_rate = 44100;
    header->info.codec0.frame_size = 8 * v;
  }
  return TLX_ID3_OK;
}

int32_t tlx_sqa_parse_codec_data_header(const uint8_t bytes[96],
                                        tlx_sqa_codec_data_header* header) {
  static const char kName[] = "tlx_sqa_parse_codec_data_header";
  if (bytes == nullptr || header == nullptr) {
    tlx_sqa_trace_error("in %s() parameter is invalid.", kName);
    return TLX_ID3_E_PARAM;
  }
  memset(header, 0, sizeof(*header));
  if (memcmp(bytes, kMagic, sizeof(kMagic)) != 0) {
    tlx_sqa_trace_error("in %s() not SQA Format.", kName);
    return TLX_SQA_E_FORMAT;
  }
  if (bytes[3] != 1) {
    tlx_sqa_trace_error("in %s() not support SQA Version.", kName);
    return TLX_ID3_E_UNSUPPORTED;
  }
  uint32_t declared = (static_cast<uint32_t>(bytes[4]) << 8) | bytes[5];
  if (declared < TLX_SQA_CODEC_DATA_HEADER_SIZE) {
    tlx_sqa_trace_error("in %s() codec_data_header size is inalid.", kName);
    return TLX_SQA_E_FORMAT;
  }
  uint16_t encryption_id = static_cast<uint16_t>((bytes[6] << 8) | bytes[7]);
  if (encryption_id > 1) {
    tlx_sqa_trace_error_value("in %s() not support encryption. e_id = %d", kName,
                              encryption_id);
    return TLX_ID3_E_UNSUPPORTED;
  }
  header->version = bytes[3];
  header->encryption_id = encryption_id;
  memcpy(header->block_8, bytes + 8, sizeof(header->block_8));
  int32_t rc = tlx_sqa_parse_codec_info(bytes, header);
  if (rc != TLX_ID3_OK) {
    memset(header, 0, sizeof(*header));
    return rc;
  }
  memcpy(header->block_88, bytes + 88, sizeof(header->block_88));
  return TLX_ID3_OK;
}

int32_t tlx_sqa_set_codec_info(const tlx_sqa_codec_data_header* header, uint8_t bytes[96]) {
  static const char kName[] = "tlx_sqa_set_codec_info";
  uint32_t rate_index = 0;
  uint32_t v = 0;
  if (header->codec == TLX_SQA_CODEC_1) {
    const auto& c = header->info.codec1;
    while (rate_index < 3 && kRates[rate_index] != c.sampling_rate) ++rate_index;
    if (rate_index == 3) {
      tlx_sqa_trace_error("in %s() not support sampling rate.", kName);
      return TLX_ID3_E_UNSUPPORTED;
    }
    // A size the 10-bit field cannot hold would be stored as another size.
    if (c.channel_config > 7 || c.frame_size < 8 || c.frame_size % 8 != 0 ||
        c.frame_size / 8 - 1 > kMaxFrameValue) {
      tlx_sqa_trace_error("in %s() parameter is invalid.", kName);
      return TLX_ID3_E_PARAM;
    }
    v = c.frame_size / 8 - 1;
    bytes[33] = 0;
    bytes[34] = static_cast<uint8_t>((rate_index << 5) | (c.channel_config << 2) | (v >> 8));
  } else if (header->codec == TLX_SQA_CODEC_0) {
    const auto& c = header->info.codec0;
    if (c.sampling_rate != 44100) {
      tlx_sqa_trace_error("in %s() not support sampling rate.", kName);
      return TLX_ID3_E_UNSUPPORTED;
    }
    if (c.flag_a > 1 || c.flag_b > 1 || c.frame_size % 8 != 0 ||
        c.frame_size / 8 > kMaxFrameValue) {
      tlx_sqa_trace_error("in %s() parameter is invalid.", kName);
      return TLX_ID3_E_PARAM;
    }
    v = c.frame_size / 8;
    bytes[33] = static_cast<uint8_t>((c.flag_a << 1) | c.flag_b);
    bytes[34] = static_cast<uint8_t>((kRate44100Index << 5) | (v >> 8));
  } else {
    tlx_sqa_trace_error("in %s() not support codec.", kName);
    return TLX_ID3_E_UNSUPPORTED;
  }
  bytes[32] = static_cast<uint8_t>(header->codec);
  bytes[35] = static_cast<uint8_t>(v & 0xFF);
  return TLX_ID3_OK;
}

int32_t tlx_sqa_write_codec_data_header(const tlx_sqa_codec_data_header* header,
                                        uint8_t bytes[96]) {
  static const char kName[] = "tlx_sqa_write_codec_data_header";
  if (header == nullptr || bytes == nullptr) {
    tlx_sqa_trace_error("in %s() parameter is invalid.", kName);
    return TLX_ID3_E_PARAM;
  }
  memset(bytes, 0, TLX_SQA_CODEC_DATA_HEADER_SIZE);
  memcpy(bytes, kMagic, sizeof(kMagic));
  if (header->version != 1) {
    tlx_sqa_trace_error("in %s() not support SQA Version.", kName);
    return TLX_ID3_E_UNSUPPORTED;
  }
  bytes[3] = header->version;
  // Only encrypted content is written; id 0 is read for old files only.
  if (header->encryption_id != 1) {
    tlx_sqa_trace_error("in %s() not support encryption.", kName);
    return TLX_ID3_E_UNSUPPORTED;
  }
  bytes[4] = 0;
  bytes[5] = TLX_SQA_CODEC_DATA_HEADER_SIZE;
  bytes[6] = 0;
  bytes[7] = 1;
  memcpy(bytes + 8, header->block_8, sizeof(header->block_8));
  int32_t rc = tlx_sqa_set_codec_info(header, bytes);
  if (rc != TLX_ID3_OK) return rc;
  memcpy(bytes + 88, header->block_88, sizeof(header->block_88));
  return TLX_ID3_OK;
}

}  // extern "C"
