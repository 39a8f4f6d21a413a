// Key sets of many shapes for the differential tests.
#ifndef PELMAR_TESTS_SUPPORT_KEYSHAPES_H
#define PELMAR_TESTS_SUPPORT_KEYSHAPES_H

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tests/support/reference.h"

enum KeyShape {
  kRandomBytes,       // every byte random
  kFewDistinct,       // a handful of distinct keys
  kAscending,         // sorted, ties possible
  kDescending,        // reverse sorted, distinct
  kDescendingTies,    // reverse sorted with runs of equal keys
  kAllEqual,
  kNearlySorted,      // sorted, then a few swaps
  kOrganPipe,         // ascending, then descending
  kSawtooth,          // short ascending runs
  kLongSharedPrefix,  // the first 8 bytes equal, the rest random from a small alphabet
  kShapeCount
};

inline const char *ShapeName(int shape) {
  static const char *names[] = {"random", "few distinct", "ascending", "descending", "descending with ties",
                                "all equal", "nearly sorted", "organ pipe", "sawtooth", "long shared prefix"};
  return names[shape];
}

// n keys of keyLength bytes in the given shape.
inline ReferenceKeys MakeKeys(int shape, uint32_t n, uint32_t keyLength, std::mt19937_64 &random) {
  ReferenceKeys keys;
  keys.keyLength = keyLength;
  std::vector<std::string> list(n, std::string(keyLength, '\0'));
  auto randomKey = [&](int alphabet) {
    std::string key(keyLength, '\0');
    for (auto &c : key) c = static_cast<char>(alphabet == 256 ? random() % 256 : 'a' + random() % alphabet);
    return key;
  };
  const int distinct = 2 + static_cast<int>(random() % 5);
  std::vector<std::string> palette;
  for (int i = 0; i < distinct; i++) palette.push_back(randomKey(256));
  switch (shape) {
    case kRandomBytes:
      for (auto &k : list) k = randomKey(256);
      break;
    case kFewDistinct:
      for (auto &k : list) k = palette[random() % palette.size()];
      break;
    case kAscending:
      for (auto &k : list) k = randomKey(3);
      std::sort(list.begin(), list.end());
      break;
    case kDescending:
      for (auto &k : list) k = randomKey(256);
      std::sort(list.rbegin(), list.rend());
      list.erase(std::unique(list.begin(), list.end()), list.end());  // short keys may give fewer than n
      break;
    case kDescendingTies:
      for (auto &k : list) k = palette[random() % palette.size()];
      std::sort(list.rbegin(), list.rend());
      break;
    case kAllEqual:
      for (auto &k : list) k = palette[0];
      break;
    case kNearlySorted:
      for (auto &k : list) k = randomKey(256);
      std::sort(list.begin(), list.end());
      for (int swaps = 0; swaps < 3 && n > 1; swaps++) std::swap(list[random() % n], list[random() % n]);
      break;
    case kOrganPipe:
      for (auto &k : list) k = randomKey(256);
      std::sort(list.begin(), list.begin() + n / 2);
      std::sort(list.begin() + n / 2, list.end(), std::greater<std::string>());
      break;
    case kSawtooth:
      for (auto &k : list) k = randomKey(256);
      for (uint32_t start = 0; start < n; start += 37) std::sort(list.begin() + start, list.begin() + std::min(n, start + 37));
      break;
    case kLongSharedPrefix:
      for (auto &k : list) {
        k = randomKey(2);
        for (uint32_t j = 0; j < keyLength && j < 8; j++) k[j] = 'p';
      }
      break;
  }
  for (const auto &k : list) keys.bytes.insert(keys.bytes.end(), k.begin(), k.end());
  return keys;
}

#endif
