// Runs a fuzz target without libFuzzer, so that its invariants count in every CTest run:
// each file of the seed corpus, then COUNT inputs made from the seeds by a fixed-seed
// mutator (bytes flipped, set, inserted, dropped or repeated; cut; two seeds joined; or one
// of the first four bytes set, where every target takes the choices of its run).
//   TARGET_replay CORPUS_FOLDER COUNT MAX_LENGTH
// A broken invariant aborts (FUZZ_CHECK) after the input is saved as replay-crash in the
// folder the test started in.
#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

static std::string gCrashPath;
static const std::string *gCurrent = nullptr;

// Only calls that are safe in a signal handler: the abort may come from inside malloc.
static void SaveCurrent(int) {
  const int file = gCurrent == nullptr ? -1 : open(gCrashPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (file >= 0 && write(file, gCurrent->data(), gCurrent->size()) >= 0) close(file);
  _exit(1);
}

static void Run(const std::string &input) {
  gCurrent = &input;
  LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t *>(input.data()), input.size());
}

static std::string Mutate(std::vector<std::string> &seeds, std::mt19937_64 &random, size_t maxLength) {
  std::string s = seeds[random() % seeds.size()];
  for (int edits = 1 + random() % 6; edits > 0; edits--) {
    const size_t at = s.empty() ? 0 : random() % s.size();
    switch (random() % 9) {
      case 0: if (!s.empty()) s[at] ^= static_cast<char>(1 << random() % 8); break;
      case 1: case 2: if (!s.empty()) s[at] = static_cast<char>(random()); break;
      case 3: s.insert(at, 1 + random() % 4, static_cast<char>(random())); break;
      case 4: if (!s.empty()) s.erase(at, 1 + random() % 8); break;
      case 5: s.insert(at, s.substr(at, random() % 64)); break;
      case 6: if (!s.empty()) s.resize(random() % s.size()); break;
      case 7: if (!s.empty()) s[random() % std::min<size_t>(s.size(), 4)] = static_cast<char>(random()); break;
      default: s += seeds[random() % seeds.size()].substr(0, random() % 256); break;
    }
  }
  if (s.size() > maxLength) s.resize(maxLength);
  return s;
}

int main(int argc, char **argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: %s CORPUS_FOLDER COUNT MAX_LENGTH\n", argv[0]);
    return 2;
  }
  gCrashPath = (std::filesystem::current_path() / "replay-crash").string();
  signal(SIGABRT, SaveCurrent);
  std::vector<std::string> seeds;
  for (const auto &entry : std::filesystem::directory_iterator(argv[1])) {
    std::ifstream file(entry.path(), std::ios::binary);
    seeds.emplace_back(std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>());
  }
  std::sort(seeds.begin(), seeds.end());
  for (const std::string &seed : seeds) Run(seed);
  std::mt19937_64 random(20261207);
  const long count = atol(argv[2]);
  for (long i = 0; i < count; i++) Run(Mutate(seeds, random, static_cast<size_t>(atol(argv[3]))));
  printf("%zu seeds and %ld derived inputs\n", seeds.size(), count);
  return 0;
}
