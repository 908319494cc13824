#include "archive/bits/huffman.h"

#include <algorithm>
#include <array>

namespace vorncom::archive {

namespace {

constexpr uint16_t kEmpty = 0xFFFF;
constexpr const char* kBadTable = "Bad decode table in archive!";

}  // namespace

void HuffmanBuilder::SiftDown(int i) {
  const int k = heap_[i];
  int j;
  while ((j = 2 * i) <= heap_size_) {
    if (j < heap_size_ && weight_[heap_[j]] > weight_[heap_[j + 1]]) ++j;
    if (weight_[k] <= weight_[heap_[j]]) break;
    heap_[i] = heap_[j];
    i = j;
  }
  heap_[i] = k;
}

HuffmanCode HuffmanBuilder::Build(std::span<const uint32_t> freq, std::span<uint8_t> lengths,
                                  std::span<uint16_t> codes) {
  const int n = static_cast<int>(freq.size());
  weight_.assign(2 * n, 0);
  heap_.assign(n + 1, 0);
  left_.assign(2 * n, 0);
  right_.assign(2 * n, 0);
  depth_.assign(2 * n, 0);
  order_.clear();

  HuffmanCode result;
  heap_size_ = 0;
  for (int i = 0; i < n; ++i) {
    lengths[i] = 0;
    codes[i] = 0;
    weight_[i] = freq[i];
    result.total += freq[i];
    if (freq[i] != 0) heap_[++heap_size_] = i;
  }
  result.used_symbols = heap_size_;
  if (heap_size_ < 2) {
    result.lone_symbol = heap_size_ == 1 ? heap_[1] : 0;
    return result;
  }

  for (int i = heap_size_ / 2; i >= 1; --i) SiftDown(i);
  // Leaves leave the heap least frequent first; that order decides who gets the long codes.
  int next = n;
  do {
    const int a = heap_[1];
    if (a < n) order_.push_back(a);
    heap_[1] = heap_[heap_size_--];
    SiftDown(1);
    const int b = heap_[1];
    if (b < n) order_.push_back(b);
    const int node = next++;
    weight_[node] = weight_[a] + weight_[b];
    left_[node] = a;
    right_[node] = b;
    heap_[1] = node;
    SiftDown(1);
  } while (heap_size_ > 1);
  const int root = next - 1;

  // Children always have lower numbers than their parent, so one downward sweep sets depths.
  std::array<uint32_t, kMaxCodeLength + 1> count{};
  depth_[root] = 0;
  for (int node = root; node >= n; --node) {
    for (int child : {left_[node], right_[node]}) {
      depth_[child] = depth_[node] + 1;
      if (child < n) ++count[std::min<int>(depth_[child], kMaxCodeLength)];
    }
  }

  // Clamping to 16 overfills the code space; each step frees one 16-bit slot by splitting a
  // shorter leaf into two one level deeper and dropping one 16-bit leaf.
  uint32_t space = 0;
  for (unsigned len = 1; len <= kMaxCodeLength; ++len)
    space += count[len] << (kMaxCodeLength - len);
  while (space != (1u << kMaxCodeLength)) {
    --count[kMaxCodeLength];
    for (unsigned len = kMaxCodeLength - 1; len > 0; --len) {
      if (count[len] != 0) {
        --count[len];
        count[len + 1] += 2;
        break;
      }
    }
    --space;
  }

  auto it = order_.begin();
  for (unsigned len = kMaxCodeLength; len > 0; --len) {
    for (uint32_t k = 0; k < count[len]; ++k) lengths[*it++] = static_cast<uint8_t>(len);
  }
  AssignCanonicalCodes(lengths.first(n), codes);
  return result;
}

void AssignCanonicalCodes(std::span<const uint8_t> lengths, std::span<uint16_t> codes) {
  std::array<uint32_t, kMaxCodeLength + 1> count{};
  for (uint8_t len : lengths) ++count[len];
  std::array<uint32_t, kMaxCodeLength + 2> start{};
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    start[len + 1] = (start[len] + count[len]) << 1;
  }
  for (size_t i = 0; i < lengths.size(); ++i) {
    codes[i] = lengths[i] == 0 ? 0 : static_cast<uint16_t>(start[lengths[i]]++);
  }
}

DecodeTable::DecodeTable(unsigned symbol_count, unsigned table_bits)
    : symbol_count_(symbol_count),
      table_bits_(table_bits),
      table_(size_t{1} << table_bits, 0),
      left_(2 * symbol_count, kEmpty),
      right_(2 * symbol_count, kEmpty),
      lengths_(symbol_count, 0) {}

void DecodeTable::BuildSingle(unsigned symbol) {
  std::fill(lengths_.begin(), lengths_.end(), 0);
  std::fill(table_.begin(), table_.end(), static_cast<uint16_t>(symbol));
}

void DecodeTable::Build(std::span<const uint8_t> lengths) {
  std::array<uint32_t, kMaxCodeLength + 1> count{};
  for (unsigned s = 0; s < symbol_count_; ++s) {
    if (lengths[s] > kMaxCodeLength) throw ELZHBadDecodeTable(kBadTable);
    ++count[lengths[s]];
  }
  // Left-aligned 16-bit code starts per length; a complete prefix code ends exactly at 2^16.
  std::array<uint32_t, kMaxCodeLength + 2> start{};
  for (unsigned len = 1; len <= kMaxCodeLength; ++len) {
    start[len + 1] = start[len] + (count[len] << (kMaxCodeLength - len));
  }
  if (start[kMaxCodeLength + 1] != (1u << kMaxCodeLength)) throw ELZHBadDecodeTable(kBadTable);

  std::copy(lengths.begin(), lengths.begin() + symbol_count_, lengths_.begin());
  std::fill(table_.begin(), table_.end(), kEmpty);
  const unsigned shift = kMaxCodeLength - table_bits_;
  unsigned next_node = symbol_count_;
  for (unsigned s = 0; s < symbol_count_; ++s) {
    const unsigned len = lengths[s];
    if (len == 0) continue;
    const uint32_t code = start[len];  // left-aligned in 16 bits
    start[len] += 1u << (kMaxCodeLength - len);
    if (len <= table_bits_) {
      const uint32_t first = code >> shift;
      const uint32_t span = 1u << (table_bits_ - len);
      std::fill_n(table_.begin() + first, span, static_cast<uint16_t>(s));
      continue;
    }
    uint16_t* slot = &table_[code >> shift];
    for (unsigned bit = table_bits_; bit < len; ++bit) {
      if (*slot == kEmpty) {
        left_[next_node] = right_[next_node] = kEmpty;
        *slot = static_cast<uint16_t>(next_node++);
      }
      const bool one = (code >> (kMaxCodeLength - 1 - bit)) & 1;
      slot = one ? &right_[*slot] : &left_[*slot];
    }
    *slot = static_cast<uint16_t>(s);
  }
}

}  // namespace vorncom::archive
