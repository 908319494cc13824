#include "archive/lzh/adaptive_huffman.h"

namespace vorncom::archive::lzh {

AdaptiveHuffman::AdaptiveHuffman() {
  for (unsigned i = 0; i < kSymbols; ++i) {
    freq_[i] = 1;
    child_[i] = static_cast<uint16_t>(i + kNodes);
    parent_[i + kNodes] = static_cast<uint16_t>(i);
  }
  for (unsigned i = 0, j = kSymbols; j <= kRoot; i += 2, ++j) {
    freq_[j] = freq_[i] + freq_[i + 1];
    child_[j] = static_cast<uint16_t>(i);
    parent_[i] = parent_[i + 1] = static_cast<uint16_t>(j);
  }
  freq_[kNodes] = 0xFFFFFFFFu;
  parent_[kRoot] = 0;
}

void AdaptiveHuffman::Rebuild() {
  // Gather the leaves at the front with halved counts (rounded up).
  unsigned j = 0;
  for (unsigned i = 0; i < kNodes; ++i) {
    if (child_[i] >= kNodes) {
      freq_[j] = (freq_[i] + 1) / 2;
      child_[j] = child_[i];
      ++j;
    }
  }
  // Pair them up again, inserting each new node where its count keeps the order.
  for (unsigned i = 0, k = kSymbols; k < kNodes; i += 2, ++k) {
    const uint32_t f = freq_[i] + freq_[i + 1];
    unsigned at = k;
    while (f < freq_[at - 1]) --at;
    for (unsigned m = k; m > at; --m) {
      freq_[m] = freq_[m - 1];
      child_[m] = child_[m - 1];
    }
    freq_[at] = f;
    child_[at] = static_cast<uint16_t>(i);
  }
  for (unsigned i = 0; i < kNodes; ++i) {
    const unsigned c = child_[i];
    if (c >= kNodes) {
      parent_[c] = static_cast<uint16_t>(i);
    } else {
      parent_[c] = parent_[c + 1] = static_cast<uint16_t>(i);
    }
  }
}

void AdaptiveHuffman::Update(unsigned symbol) {
  if (freq_[kRoot] == kMaxFrequency) Rebuild();
  unsigned c = parent_[symbol + kNodes];
  do {
    const uint32_t k = ++freq_[c];
    // Keep counts ascending: swap with the last node whose count is now below k.
    if (k > freq_[c + 1]) {
      unsigned l = c + 1;
      while (k > freq_[++l]) {
      }
      --l;
      freq_[c] = freq_[l];
      freq_[l] = k;

      const unsigned i = child_[c];
      parent_[i] = static_cast<uint16_t>(l);
      if (i < kNodes) parent_[i + 1] = static_cast<uint16_t>(l);
      const unsigned j = child_[l];
      child_[l] = static_cast<uint16_t>(i);
      parent_[j] = static_cast<uint16_t>(c);
      if (j < kNodes) parent_[j + 1] = static_cast<uint16_t>(c);
      child_[c] = static_cast<uint16_t>(j);
      c = l;
    }
  } while ((c = parent_[c]) != 0);
}

}  // namespace vorncom::archive::lzh
