// Writes benchmark input: n records of 100 bytes, each 10 printable key bytes, filler,
// then CR LF. Orders: random, sorted, reverse (by key bytes), equal (one key for all).
// Two more shapes for the keys of pelmar-sort's wider language: csv, n lines of about 60
// bytes ("id,name,amount,filler" ended by LF, the amount a signed decimal), and packed,
// 100-byte records with a 6-byte packed decimal at byte 41 (11 digits and the sign).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

// The csv and packed shapes.
static int WriteKeyed(const char *name, size_t count, bool csv, std::mt19937_64 &random) {
  FILE *out = fopen(name, "wb");
  if (out == nullptr) return 1;
  static char buffer[1 << 20];
  setvbuf(out, buffer, _IOFBF, sizeof buffer);
  char record[101];
  for (size_t i = 0; i < count; i++) {
    const long long amount = static_cast<long long>(random() % 20000000) - 10000000;
    if (csv) {
      char name[11];
      for (int j = 0; j < 10; j++) name[j] = static_cast<char>('a' + random() % 26);
      name[10] = '\0';
      int length = snprintf(record, sizeof record, "%09zu,%s,%lld.%02lld,", i, name, amount / 100, (amount < 0 ? -amount : amount) % 100);
      while (length < 59) record[length++] = 'x';
      record[length++] = '\n';
      fwrite(record, 1, static_cast<size_t>(length), out);
    } else {
      memset(record, 'r', 100);
      unsigned long long magnitude = static_cast<unsigned long long>(amount < 0 ? -amount : amount);
      for (int digit = 0; digit < 12; digit++) {  // the sign half-byte, then 11 digits from the last
        const int half = digit == 0 ? (amount < 0 ? 0xD : 0xC) : static_cast<int>(magnitude % 10);
        if (digit > 0) magnitude /= 10;
        unsigned char &byte = reinterpret_cast<unsigned char &>(record[40 + 5 - digit / 2]);
        byte = digit % 2 == 0 ? static_cast<unsigned char>(half) : static_cast<unsigned char>(byte | half << 4);
      }
      fwrite(record, 1, 100, out);
    }
  }
  return fclose(out) == 0 ? 0 : 1;
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: makerecords OUT COUNT random|sorted|reverse|equal|csv|packed\n");
    return 2;
  }
  const size_t count = strtoull(argv[2], nullptr, 10);
  const std::string order = argv[3];
  std::mt19937_64 random(42);
  if (order == "csv" || order == "packed") return WriteKeyed(argv[1], count, order == "csv", random);
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
