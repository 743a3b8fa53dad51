#include <isa-l/igzip_lib.h>

#include "package/inflater.h"

namespace installer {

namespace {

constexpr size_t zlibHeaderSize = 2;

// zlib's own test of the two header bytes, so that both backends refuse the
// same streams: ISA-L accepts some that zlib does not.
bool isZlibHeader(const uint8_t header[zlibHeaderSize]) {
  bool deflate = (header[0] & 0x0F) == 8, window = (header[0] >> 4) <= 7;
  bool check = ((header[0] << 8) | header[1]) % 31 == 0, dictionary = (header[1] & 0x20) != 0;
  return deflate && window && check && !dictionary;
}

class IsalInflater : public Inflater {
 public:
  // The state holds ISA-L's 64 KiB output staging buffer: on the heap, not the stack.
  IsalInflater() : state(std::make_unique<inflate_state>()) {
    isal_inflate_init(state.get());
    state->crc_flag = ISAL_ZLIB_NO_HDR_VER;
  }

  void feed(const uint8_t* bytes, size_t n) override {
    state->next_in = const_cast<uint8_t*>(bytes);
    state->avail_in = static_cast<uint32_t>(n);
  }

  size_t inputLeft() const override { return state->avail_in; }

  InflateStatus inflate(uint8_t* output, size_t size, size_t& produced) override {
    produced = 0;
    if (!takeHeader()) return headerSeen == zlibHeaderSize ? InflateStatus::Failed : InflateStatus::Progress;
    state->next_out = output;
    state->avail_out = static_cast<uint32_t>(size);
    int result = isal_inflate(state.get());
    produced = size - state->avail_out;
    if (result != ISAL_DECOMP_OK) return InflateStatus::Failed;
    return state->block_state == ISAL_BLOCK_FINISH ? InflateStatus::End : InflateStatus::Progress;
  }

 private:
  // Collects and checks the header; true once a good one has been passed.
  bool takeHeader() {
    while (headerSeen < zlibHeaderSize && state->avail_in != 0) {
      header[headerSeen++] = *state->next_in++;
      --state->avail_in;
      if (headerSeen == zlibHeaderSize) headerGood = isZlibHeader(header);
    }
    return headerGood;
  }

  std::unique_ptr<inflate_state> state;
  uint8_t header[zlibHeaderSize] = {};
  size_t headerSeen = 0;
  bool headerGood = false;
};

}  // namespace

std::unique_ptr<Inflater> newIsalInflater() { return std::make_unique<IsalInflater>(); }

}  // namespace installer
