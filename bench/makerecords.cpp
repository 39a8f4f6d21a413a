// Writes benchmark input: n records of 100 bytes, each 10 printable key bytes, filler,
// then CR LF. Orders: random, sorted, reverse (by key bytes), equal (one key for all).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: makerecords OUT COUNT random|sorted|reverse|equal\n");
    return 2;
  }
  const size_t count = strtoull(argv[2], nullptr, 10);
  const std::string order = argv[3];
  std::mt19937_64 random(42);
  std::vector<char> keys(count * 10);
  for (char &c : keys) c = static_cast<char>(' ' + random() % 95);
  if (order == "equal") {
    for (size_t i = 0; i < count; i++) memcpy(&keys[i * 10], "EQUAL KEY!", 10);
  } else if (order == "sorted" || order == "reverse") {
    std::vector<uint32_t> index(count);
    for (size_t i = 0; i < count; i++) index[i] = static_cast<uint32_t>(i);
    std::sort(index.begin(), index.end(), [&](uint32_t a, uint32_t b) {
      int c = memcmp(&keys[a * 10], &keys[b * 10], 10);
      return order == "sorted" ? c < 0 : c > 0;
    });
    std::vector<char> sorted(count * 10);
    for (size_t i = 0; i < count; i++) memcpy(&sorted[i * 10], &keys[index[i] * 10], 10);
    keys.swap(sorted);
  }
  FILE *out = fopen(argv[1], "wb");
  if (out == nullptr) return 1;
  static char buffer[1 << 20];
  setvbuf(out, buffer, _IOFBF, sizeof buffer);
  char record[100];
  for (int j = 10; j < 98; j++) record[j] = static_cast<char>('a' + j % 26);
  record[98] = '\r';
  record[99] = '\n';
  for (size_t i = 0; i < count; i++) {
    memcpy(record, &keys[i * 10], 10);
    fwrite(record, 1, sizeof record, out);
  }
  return fclose(out) == 0 ? 0 : 1;
}
