#include "packer/lzma_encode.h"

#include <algorithm>

#include "package/package_format.h"
#include "packer/packer_error.h"

namespace {

void ThrowLzma(const char* what, lzma_ret ret) {
  throw PackerError("lzma", "", std::string(what) + " failed (liblzma code " + std::to_string(ret) + ")");
}

// Levels 0 to 6 are liblzma's presets; above them the binary-tree finder
// looks for longer matches and searches deeper, which pays on payloads full
// of repeated text. Only the encoder's effort changes: the dictionary and
// lc/lp/pb come from the package, so every level decodes with the same stub
// and the same memory.
void EncoderOptions(uint32_t level, lzma_options_lzma* options) {
  if (lzma_lzma_preset(options, std::min<uint32_t>(level, 6))) ThrowLzma("lzma_lzma_preset", LZMA_OPTIONS_ERROR);
  const struct {
    uint32_t NiceLen, Depth;
  } above6[] = {{128, 0}, {273, 0}, {273, 512}};
  if (level > 6) {
    options->mode = LZMA_MODE_NORMAL;
    options->mf = LZMA_MF_BT4;
    options->nice_len = above6[level - 7].NiceLen;
    options->depth = above6[level - 7].Depth;
  }
}

// Sets up stream as a raw LZMA1 encoder for size bytes.
void StartEncoder(lzma_stream* stream, const LzmaSettings& settings, uint64_t size) {
  uint8_t encodeWith = IsEncodableProperties(settings.Properties) ? settings.Properties : 0x5D;
  uint32_t lc, lp, pb;
  ParseLzmaProperties(encodeWith, &lc, &lp, &pb);

  lzma_options_lzma options;
  EncoderOptions(std::min<uint32_t>(settings.Level, MAX_LEVEL), &options);
  options.lc = lc;
  options.lp = lp;
  options.pb = pb;
  // The dictionary field is written as requested; the encoder only needs to
  // stay within it and within what liblzma accepts. A reader takes anything
  // below 4 KiB as 4 KiB, so encoding with that is still readable.
  // A dictionary larger than the data gains nothing and only costs memory.
  const uint64_t encoderMax = (1u << 30) + (1u << 29);
  uint64_t dictionary = std::clamp<uint64_t>(settings.Dictionary, LZMA_DICT_SIZE_MIN, encoderMax);
  dictionary = std::min<uint64_t>(dictionary, std::max<uint64_t>(size, LZMA_DICT_SIZE_MIN));
  options.dict_size = static_cast<uint32_t>(dictionary);

  lzma_filter filters[2];
  if (settings.EndMarker) {
    filters[0] = {LZMA_FILTER_LZMA1, &options};
  } else {
    // LZMA1EXT without LZMA_LZMA1EXT_ALLOW_EOPM writes no end marker; the
    // reader stops at UnpackedSize.
    options.ext_flags = 0;
    lzma_set_ext_size(options, size);
    filters[0] = {LZMA_FILTER_LZMA1EXT, &options};
  }
  filters[1] = {LZMA_VLI_UNKNOWN, nullptr};
  lzma_ret ret = lzma_raw_encoder(stream, filters);
  if (ret != LZMA_OK) ThrowLzma("lzma_raw_encoder", ret);
}

void PutPropertyBytes(const LzmaSettings& settings, uint8_t out[5]) {
  out[0] = settings.Properties;
  for (int i = 0; i < 4; ++i) out[1 + i] = static_cast<uint8_t>(settings.Dictionary >> (8 * i));
}

}  // namespace

bool IsEncodableProperties(uint8_t properties) {
  uint32_t lc, lp, pb;
  return ParseLzmaProperties(properties, &lc, &lp, &pb) && lc + lp <= LZMA_LCLP_MAX &&
         pb <= LZMA_PB_MAX;
}

BlockEncoder::BlockEncoder(const LzmaSettings& settings, uint64_t totalSize, Sink sink, bool propertyBytes)
    : sink_(std::move(sink)), out_(1 << 16) {
  StartEncoder(&stream_, settings, totalSize);
  if (!propertyBytes) return;
  uint8_t properties[5];
  PutPropertyBytes(settings, properties);
  sink_(properties, sizeof properties);
  written_ = sizeof properties;
}

BlockEncoder::~BlockEncoder() { lzma_end(&stream_); }

void BlockEncoder::Add(const uint8_t* data, size_t size) {
  stream_.next_in = data;
  stream_.avail_in = size;
  Drain(LZMA_RUN);
}

void BlockEncoder::Finish() { Drain(LZMA_FINISH); }

void BlockEncoder::Drain(lzma_action action) {
  for (;;) {
    stream_.next_out = out_.data();
    stream_.avail_out = out_.size();
    lzma_ret ret = lzma_code(&stream_, action);
    size_t produced = out_.size() - stream_.avail_out;
    if (produced) sink_(out_.data(), produced);
    written_ += produced;
    if (ret == LZMA_STREAM_END) return;
    if (ret != LZMA_OK) ThrowLzma("lzma_code", ret);
    // LZMA_RUN is done once the input is taken and the output had room left.
    if (action == LZMA_RUN && stream_.avail_in == 0 && stream_.avail_out != 0) return;
  }
}
