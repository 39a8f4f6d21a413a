// Variable-length record scanner: cuts a text-like file into records ended by line
// delimiters. The run calls it twice over the same bytes: pass 0 counts the records and
// finds the longest; pass 1 stores every record's offset and length and builds its key.
//
// A record's stored bytes are its bytes other than CR and LF. Empty lines make no record.
// A line without a delimiter at the end of the file is a record like any other.
// A CR or LF inside a record that is not its delimiter (an LF alone in mode 0, say) stays
// in the bytes that are copied to the output, but not in the stored bytes that its key is
// built from; such bytes at either end of a record are dropped like delimiters.
// Example, mode 0: 41 42 0D 0A 43 44 0D 0A gives records at offsets 0 and 4, each 2 bytes.
// In mode 3 (zero bytes end records) the zero byte plays the part of CR and LF both: the
// delimiter, and the one byte never stored.
//
// A text input too large to map is read in sequence a block at a time (TextBlock): each
// refill cuts the block just after its last delimiter, so that the scans of the blocks one
// after the other give what the scan of the whole file gives.
#ifndef PELMAR_ENGINE_SCANNER_H
#define PELMAR_ENGINE_SCANNER_H

#include <cstddef>
#include <cstdint>

#include "engine/keys.h"
#include "engine/runprogress.h"
#include "engine/workspace.h"
#include "os/platform.h"

constexpr int kDelimiterBoth = 0;  // CR followed by LF ("both cr/lf")
constexpr int kDelimiterCr = 1;    // CR ("cr only")
constexpr int kDelimiterLf = 2;    // LF ("lf only")
constexpr int kDelimiterNul = 3;   // a zero byte (pelmar-sort's): CR and LF are then bytes like any other

// The scanner's delimiter mode, set from the settings at start-up; 0 until then.
extern int DelimiterMode;

constexpr uint32_t kLongestStoredRecord = 260;  // stored bytes a record may have
constexpr uint32_t kLongestRecordSpan = 32767;  // bytes a record may span, stray CR/LF included

constexpr int kScanGood = 0;            // the file was scanned to its end
constexpr int kScanDelimiterError = 1;  // mode 0: a CR not followed by LF
constexpr int kScanTooLong = 2;         // a record of more than 260 stored bytes or 32767 in all
constexpr int kScanChanged = 3;         // pass 1 found records other than pass 0 counted

struct ScanTally {
  uint32_t recordCount;  // records ended in this pass
  int longestRecord;     // pass 0: most stored bytes of one record; untouched by pass 1
};

// Pass 1 context: where records and keys go.
struct ScanKeying {
  SortWorkspace *workspace;  // recordCount is pass 0's count; offsets, lengths, keys filled here
  const KeyPlan *plan;       // variable-length key plan
  unsigned char *record;     // zero-filled scratch of at least plan->reach bytes
  uint64_t base = 0;         // the file offset of bytes[0]: keys carry base + offset, the workspace the offset
  SortProgressFunction progress = nullptr;  // ScanRecords' reports of keying (kPhaseKeying); null for none
};

// Scans bytes[0, size) in the given mode. Pass 0: keying is null; fills tally.
// Pass 1: keying is set; tally->longestRecord stays; any deviation from pass 0 (more or
// fewer records, a result other than kScanGood) comes back as kScanChanged.
// Returns kScanGood, kScanDelimiterError, kScanTooLong or kScanChanged.
int ScanRecords(int pass, const unsigned char *bytes, uint64_t size, int mode, ScanTally *tally,
                const ScanKeying *keying);

// The same scan over bytes[begin, end), a range cut by SplitAtDelimiters: the scan of the
// whole file reaches both ends with no record open, so ranges scanned one by one give what
// it gives: the records in order, each at its own offset, the record counts adding up, the
// longest record the largest of theirs, and its result the first range's that is not
// kScanGood. Pass 1 stores the range's records from index firstRecord on and expects
// recordCount of them (pass 0's count for the range); it makes no progress reports.
int ScanRecordRange(int pass, const unsigned char *bytes, uint64_t begin, uint64_t end, int mode, ScanTally *tally,
                    const ScanKeying *keying, uint32_t firstRecord, uint32_t recordCount);

// Pass 0 over bytes[begin, end), a range as for ScanRecordRange in which at least count + 1
// records begin (count >= 1): the position just after the delimiter that ends the count-th
// record, where a scan of the rest begins with no record open.
uint64_t EndOfRecords(const unsigned char *bytes, uint64_t begin, uint64_t end, int mode, uint32_t count);

// Cuts bytes[0, size) into at most maxRanges ranges (maxRanges >= 1), each beginning at 0 or
// just after a delimiter: CR LF in mode 0, so a pair is never cut. Fills starts[0] = 0 up to
// starts[count] = size, increasing, and returns count.
uint32_t SplitAtDelimiters(const unsigned char *bytes, uint64_t size, int mode, uint32_t maxRanges, uint64_t *starts);

// ---- A text input read in sequence, a block at a time.

struct TextBlock {
  unsigned char *bytes;  // capacity bytes
  size_t capacity;
  uint64_t base;         // the input's offset of bytes[0]
  size_t have;           // bytes read into the block
  size_t cut;            // after a refill that cut it: bytes[0, cut) are whole lines
  bool atEnd;            // the block holds the input's last byte (or the input has none left)
  bool ended;            // standard input: a read found its end
};

constexpr int kBlockCut = 0;         // bytes[0, cut) may be scanned, cut > 0
constexpr int kBlockEnded = 1;       // nothing of the input is left
constexpr int kBlockReadFailed = 2;  // a read failed, or the input ended before its size
constexpr int kBlockNoMemory = 3;    // the block had to grow and could not

// Reads into the block until it is full or holds the input's last byte (standard input: until
// a read finds its end), then cuts it: at
// the end of the input, after everything; else just after the last delimiter, where a scan
// of the rest begins with no record open. A block without a delimiter is cut after
// everything when it holds only CR and LF bytes (no record is open after them), and
// otherwise grows (doubles) and reads on, since only later bytes decide its record.
// Returns kBlockCut, kBlockEnded, kBlockReadFailed or kBlockNoMemory.
int RefillTextBlock(TextBlock *block, const InputFile *input, int mode);

// Doubles the block, keeping what it holds. Returns 0, or 1 when the memory cannot be had.
int GrowTextBlock(TextBlock *block);

// The first count bytes (at most have) are done with: the rest moves to the block's front.
void TakeFromTextBlock(TextBlock *block, size_t count);

#endif
