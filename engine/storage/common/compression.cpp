#include "engine/storage/common/compression.h"

#include <zlib.h>

#include <algorithm>
#include <limits>
#include <new>
#include <stdexcept>

#include "engine/base/engine_error.h"

namespace vevura {
namespace {

//! Output buffers grow in steps of this many bytes.
constexpr size_t kGrowthUnit = 256;
//! The most zlib takes or gives in one call (its counters are 32-bit).
constexpr size_t kMaxStep = std::numeric_limits<uInt>::max();

size_t RoundUpToUnit(size_t n) {
  return (n + kGrowthUnit - 1) / kGrowthUnit * kGrowthUnit;
}

[[noreturn]] void Raise(uint16_t code) {
  RaiseEngineError(code, "", "", "", "", "", "", "");
}

//! Owns a zlib stream and ends it on every way out.
class TZStream {
 public:
  explicit TZStream(bool deflating) : deflating_(deflating) {}
  ~TZStream() {
    if (!initialised_) return;
    if (deflating_) {
      deflateEnd(&stream_);
    } else {
      inflateEnd(&stream_);
    }
  }
  TZStream(const TZStream&) = delete;
  TZStream& operator=(const TZStream&) = delete;

  bool Init() {
    int rc = deflating_ ? deflateInit(&stream_, 9) : inflateInit(&stream_);
    initialised_ = rc == Z_OK;
    return initialised_;
  }
  z_stream& Get() { return stream_; }

 private:
  bool deflating_;
  bool initialised_ = false;
  z_stream stream_{};
};

//! Hands zlib the next piece of input and of free output, each at most
//! kMaxStep bytes.
void FeedStream(z_stream& z, const uint8_t* input, size_t length, size_t* consumed,
                std::vector<uint8_t>& out, size_t* produced) {
  size_t in_step = std::min(length - *consumed, kMaxStep);
  size_t out_step = std::min(out.size() - *produced, kMaxStep);
  z.next_in = const_cast<Bytef*>(input + *consumed);
  z.avail_in = static_cast<uInt>(in_step);
  z.next_out = out.data() + *produced;
  z.avail_out = static_cast<uInt>(out_step);
}

//! Records what the last call took and gave.
void AccountStream(const z_stream& z, size_t in_step, size_t out_step, size_t* consumed,
                   size_t* produced) {
  *consumed += in_step - z.avail_in;
  *produced += out_step - z.avail_out;
}

std::vector<uint8_t> Deflate(const uint8_t* input, size_t length) {
  TZStream stream(true);
  if (!stream.Init()) Raise(VEVURA_COMPRESS);
  z_stream& z = stream.Get();
  std::vector<uint8_t> out(RoundUpToUnit(length + length / 10 + 12));
  size_t consumed = 0;
  size_t produced = 0;
  for (;;) {
    if (produced == out.size()) out.resize(out.size() + kGrowthUnit);
    FeedStream(z, input, length, &consumed, out, &produced);
    size_t in_step = z.avail_in;
    size_t out_step = z.avail_out;
    bool last_input = consumed + in_step == length;
    int rc = deflate(&z, last_input ? Z_FINISH : Z_NO_FLUSH);
    AccountStream(z, in_step, out_step, &consumed, &produced);
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) Raise(VEVURA_COMPRESS);
  }
  out.resize(produced);
  return out;
}

std::vector<uint8_t> Inflate(const uint8_t* input, size_t length) {
  if (length == 0) Raise(VEVURA_UNCOMPRESS);
  TZStream stream(false);
  if (!stream.Init()) Raise(VEVURA_UNCOMPRESS);
  z_stream& z = stream.Get();
  const size_t step = RoundUpToUnit(length);
  std::vector<uint8_t> out(step);
  size_t consumed = 0;
  size_t produced = 0;
  for (;;) {
    if (produced == out.size()) out.resize(out.size() + step);
    FeedStream(z, input, length, &consumed, out, &produced);
    size_t in_step = z.avail_in;
    size_t out_step = z.avail_out;
    int rc = inflate(&z, Z_NO_FLUSH);
    AccountStream(z, in_step, out_step, &consumed, &produced);
    if (rc == Z_STREAM_END) break;
    if (rc != Z_OK && rc != Z_BUF_ERROR) Raise(VEVURA_UNCOMPRESS);
    // All input taken and room left over, yet no end: the stream is cut short.
    // Without this check the loop would grow the output forever.
    if (consumed == length && produced < out.size()) Raise(VEVURA_UNCOMPRESS);
  }
  out.resize(produced);
  return out;
}

}  // namespace

std::vector<uint8_t> CompressBuffer(const uint8_t* input, size_t length) {
  try {
    return Deflate(input, length);
  } catch (const std::bad_alloc&) {
    Raise(VEVURA_COMPRESS);
  } catch (const std::length_error&) {
    Raise(VEVURA_COMPRESS);
  }
}

std::vector<uint8_t> DecompressBuffer(const uint8_t* input, size_t length) {
  try {
    return Inflate(input, length);
  } catch (const std::bad_alloc&) {
    Raise(VEVURA_UNCOMPRESS);
  } catch (const std::length_error&) {
    Raise(VEVURA_UNCOMPRESS);
  }
}

}  // namespace vevura
