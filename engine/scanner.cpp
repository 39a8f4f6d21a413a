#include "engine/scanner.h"

#include <cstdlib>
#include <cstring>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

int DelimiterMode = kDelimiterBoth;

static const unsigned char kCr = 0x0D;
static const unsigned char kLf = 0x0A;

// The bytes that end or break lines: CR and LF, or in mode 3 the zero byte alone.
struct LineBreaks {
  unsigned char first;
  unsigned char second;
};

static LineBreaks BreaksOf(int mode) {
  return mode == kDelimiterNul ? LineBreaks{0, 0} : LineBreaks{kCr, kLf};
}

static bool IsLineBreak(unsigned char c, LineBreaks breaks) { return c == breaks.first || c == breaks.second; }

// Position of the first line break at or after pos, or size when there is none.
static uint64_t FindLineBreak(const unsigned char *bytes, uint64_t pos, uint64_t size, LineBreaks breaks) {
#if defined(__SSE2__)
  const __m128i first = _mm_set1_epi8(static_cast<char>(breaks.first));
  const __m128i second = _mm_set1_epi8(static_cast<char>(breaks.second));
  while (pos + 16 <= size) {
    __m128i block = _mm_loadu_si128(reinterpret_cast<const __m128i *>(bytes + pos));
    int mask = _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(block, first), _mm_cmpeq_epi8(block, second)));
    if (mask != 0) return pos + static_cast<uint64_t>(__builtin_ctz(static_cast<unsigned>(mask)));
    pos += 16;
  }
#endif
  while (pos < size && !IsLineBreak(bytes[pos], breaks)) pos++;
  return pos;
}

// The record being scanned.
struct OpenRecord {
  uint64_t stored;  // stored bytes so far
  uint64_t first;   // offset of its first stored byte
  uint64_t last;    // offset of its last stored byte
};

// Where pass 1 puts the records of the range being scanned.
struct RangeIndex {
  uint32_t first;       // index of the range's first record
  uint32_t limit;       // records the range may end
  bool report;          // progress reports (the whole file, on the run's thread)
  uint32_t stopAfter;   // pass 0: stop once this many records have ended (0: scan the whole range)
  uint64_t *stoppedAt;  // then: the position just after the delimiter that ended the last of them
};

// Closes the current record. Pass 1 stores its offset and span and builds its key from
// its stored bytes, copied into the zero-filled scratch and cleared again afterwards.
static int EndRecord(int pass, const unsigned char *bytes, OpenRecord *open, ScanTally *tally,
                     const ScanKeying *keying, const RangeIndex *index) {
  if (pass == 0) {
    if (open->stored > static_cast<uint64_t>(tally->longestRecord)) tally->longestRecord = static_cast<int>(open->stored);
  } else {
    SortWorkspace *ws = keying->workspace;
    if (tally->recordCount >= index->limit) return kScanChanged;
    const uint32_t r = index->first + tally->recordCount;
    const uint64_t span = open->last - open->first + 1;
    const unsigned char *source = bytes + open->first;
    const uint32_t reach = keying->plan->reach;
    uint32_t copied = 0;
    if (span == open->stored) {
      copied = open->stored < reach ? static_cast<uint32_t>(open->stored) : reach;
      memcpy(keying->record, source, copied);
    } else {
      for (uint64_t j = 0; j < span && copied < reach; j++) {
        if (source[j] != kCr && source[j] != kLf) keying->record[copied++] = source[j];
      }
    }
    if (ws->wideOffsets != nullptr) {
      ws->wideOffsets[r] = open->first;
    } else {
      ws->recordOffsets[r] = static_cast<uint32_t>(open->first);
    }
    ws->recordLengths[r] = static_cast<uint16_t>(span);
    BuildVariableKey(keying->plan, keying->record, copied, keying->base + open->first,
                     ws->keyArray + static_cast<uint64_t>(r) * ws->keyLength);
    memset(keying->record, 0, copied);
    if (index->report && r % kProgressInterval == 0) ReportProgress(keying->progress, kPhaseKeying, r, ws->recordCount);
  }
  tally->recordCount++;
  open->stored = 0;
  return kScanGood;
}

// Scans bytes[begin, end), begun with no record open. Returns the result code.
static int ScanRange(int pass, const unsigned char *bytes, uint64_t begin, uint64_t end, int mode, ScanTally *tally,
                     const ScanKeying *keying, const RangeIndex *index) {
  const LineBreaks breaks = BreaksOf(mode);
  const unsigned char delimiter = mode == kDelimiterNul ? 0 : mode == kDelimiterLf ? kLf : kCr;
  OpenRecord open = {0, 0, 0};
  tally->recordCount = 0;
  uint64_t pos = begin;
  int result = kScanGood;
  while (pos < end && result == kScanGood) {
    uint64_t next = FindLineBreak(bytes, pos, end, breaks);
    if (next > pos) {  // ordinary bytes: all stored
      if (open.stored == 0) open.first = pos;
      open.stored += next - pos;
      open.last = next - 1;
      if (open.stored > kLongestStoredRecord || open.last - open.first + 1 > kLongestRecordSpan) {
        result = kScanTooLong;
        break;
      }
      pos = next;
      if (pos == end) break;
    }
    if (bytes[pos] == delimiter) {
      if (mode == kDelimiterBoth && (pos + 1 == end || bytes[pos + 1] != kLf)) {
        result = kScanDelimiterError;
        break;
      }
      if (open.stored > 0) result = EndRecord(pass, bytes, &open, tally, keying, index);
      pos += mode == kDelimiterBoth ? 2 : 1;
      if (pass == 0 && index->stopAfter != 0 && tally->recordCount == index->stopAfter) {
        *index->stoppedAt = pos;
        return result;
      }
    } else {
      pos++;  // a line break that is not the delimiter: never stored
    }
  }
  if (result == kScanGood && open.stored > 0) result = EndRecord(pass, bytes, &open, tally, keying, index);
  if (pass == 1 && (result != kScanGood || tally->recordCount != index->limit)) return kScanChanged;
  return result;
}

int ScanRecords(int pass, const unsigned char *bytes, uint64_t size, int mode, ScanTally *tally,
                const ScanKeying *keying) {
  const RangeIndex index = {0, pass == 1 ? keying->workspace->recordCount : 0, true, 0, nullptr};
  return ScanRange(pass, bytes, 0, size, mode, tally, keying, &index);
}

int ScanRecordRange(int pass, const unsigned char *bytes, uint64_t begin, uint64_t end, int mode, ScanTally *tally,
                    const ScanKeying *keying, uint32_t firstRecord, uint32_t recordCount) {
  const RangeIndex index = {firstRecord, recordCount, false, 0, nullptr};
  return ScanRange(pass, bytes, begin, end, mode, tally, keying, &index);
}

uint64_t EndOfRecords(const unsigned char *bytes, uint64_t begin, uint64_t end, int mode, uint32_t count) {
  uint64_t stoppedAt = end;
  const RangeIndex index = {0, 0, false, count, &stoppedAt};
  ScanTally tally = {0, 0};
  ScanRange(0, bytes, begin, end, mode, &tally, nullptr, &index);
  return stoppedAt;
}

// 1 when the byte at pos is the last byte of a delimiter: CR in mode 1, LF in mode 2, and in
// mode 0 an LF right after a CR. The whole-file scan always takes such a CR as a delimiter,
// since a CR can never be the second byte of a pair; so a cut after this byte is a cut
// where the whole scan has no record open.
static bool EndsDelimiter(const unsigned char *bytes, uint64_t pos, int mode) {
  if (mode == kDelimiterNul) return bytes[pos] == 0;
  if (mode == kDelimiterCr) return bytes[pos] == kCr;
  return bytes[pos] == kLf && (mode == kDelimiterLf || (pos > 0 && bytes[pos - 1] == kCr));
}

// The position just after the first delimiter that ends in [from, to), or to when none does.
static uint64_t AfterNextDelimiter(const unsigned char *bytes, uint64_t from, uint64_t to, int mode) {
  for (uint64_t pos = from; pos < to; pos++) {
    pos = FindLineBreak(bytes, pos, to, BreaksOf(mode));
    if (pos == to) break;
    if (EndsDelimiter(bytes, pos, mode)) return pos + 1;
  }
  return to;
}

// The position just after the last delimiter that ends in [0, size), or 0 when none does.
static size_t AfterLastDelimiter(const unsigned char *bytes, size_t size, int mode) {
  for (size_t pos = size; pos > 0; pos--) {
    if (EndsDelimiter(bytes, pos - 1, mode)) return pos;
  }
  return 0;
}

uint32_t SplitAtDelimiters(const unsigned char *bytes, uint64_t size, int mode, uint32_t maxRanges, uint64_t *starts) {
  uint32_t count = 0;
  starts[0] = 0;
  for (uint32_t j = 1; j < maxRanges; j++) {
    // Each cut is searched for only up to the next nominal one, so the searches together
    // read the file once at most; a stretch without a delimiter just makes a longer range.
    const uint64_t nominal = size * j / maxRanges;
    const uint64_t limit = size * (j + 1) / maxRanges;
    const uint64_t from = nominal > starts[count] ? nominal : starts[count];
    const uint64_t cut = AfterNextDelimiter(bytes, from, limit, mode);
    if (cut < limit && cut > starts[count]) starts[++count] = cut;
  }
  starts[++count] = size;
  return count;
}

// 1 when bytes[0, size) are all line breaks that are not delimiters, after which no record
// is open.
static bool HoldsOnlyLineBreaks(const unsigned char *bytes, size_t size, int mode) {
  for (size_t i = 0; i < size; i++) {
    if (!IsLineBreak(bytes[i], BreaksOf(mode))) return false;
  }
  return true;
}

// Reads into the block until it is full, or holds the input's last byte. Returns 0, or 1
// when a read failed or the input ended before its size.
static int FillTextBlock(TextBlock *block, const InputFile *input) {
  while (block->have < block->capacity && !block->ended && (input->standardInput || block->base + block->have < input->size)) {
    const int64_t got = input->standardInput
                            ? ReadInputNext(input, block->bytes + block->have, block->capacity - block->have)
                            : ReadInputAt(input, block->bytes + block->have, block->capacity - block->have,
                                          block->base + block->have);
    if (got < 0 || (got == 0 && !input->standardInput)) return 1;
    block->ended = got == 0;
    block->have += static_cast<size_t>(got);
  }
  block->atEnd = input->standardInput ? block->ended : block->base + block->have >= input->size;
  return 0;
}

int GrowTextBlock(TextBlock *block) {
  unsigned char *larger = static_cast<unsigned char *>(AllocateZeroed(2 * block->capacity, 1));
  if (larger == nullptr) return 1;
  memcpy(larger, block->bytes, block->have);
  free(block->bytes);
  block->bytes = larger;
  block->capacity *= 2;
  return 0;
}

int RefillTextBlock(TextBlock *block, const InputFile *input, int mode) {
  for (;;) {
    if (FillTextBlock(block, input) != 0) return kBlockReadFailed;
    if (block->have == 0 && block->atEnd) return kBlockEnded;
    block->cut = block->atEnd ? block->have : AfterLastDelimiter(block->bytes, block->have, mode);
    if (block->cut == 0 && HoldsOnlyLineBreaks(block->bytes, block->have, mode)) block->cut = block->have;
    if (block->cut > 0) return kBlockCut;
    if (GrowTextBlock(block) != 0) return kBlockNoMemory;
  }
}

void TakeFromTextBlock(TextBlock *block, size_t count) {
  memmove(block->bytes, block->bytes + count, block->have - count);
  block->base += count;
  block->have -= count;
  block->cut = 0;
}
