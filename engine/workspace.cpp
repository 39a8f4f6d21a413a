#include "engine/workspace.h"

#include <cstdlib>
#include <cstring>

#include "engine/keys.h"
#include "os/platform.h"

// One array of the workspace: where it goes, and its entries and their size for n records
// in G groups. AllocateWorkspace allocates from this list and WorkspaceBytes adds it up,
// so the budget's plans count exactly what is allocated.
struct ArraySize {
  uint64_t count;  // entries; 0: the array is not allocated
  uint64_t size;   // bytes per entry
};

static uint64_t GroupCount(uint64_t n) { return (n + kSortGroupSize - 1) / kSortGroupSize; }

// The arrays in the order of the workspace record's fields.
enum WorkspaceArray {
  kKeyArray, kKeyPointers, kKeyPrefixes, kOutputOrder, kRecordOffsets, kWideOffsets, kRecordLengths, kGroupSizes,
  kMergeScratch, kMergeTree, kMergePrefixes, kArrayCount
};

static void SizeArrays(uint64_t n, const KeyPlan *plan, ArraySize sizes[kArrayCount]) {
  const bool variable = plan->variable;
  const bool wideOffsets = plan->offsetLength == kWideOffsetSuffixLength;
  const uint64_t groups = GroupCount(n);
  sizes[kKeyArray] = {n, plan->keyLength};
  sizes[kKeyPointers] = {n, sizeof(uint32_t)};
  sizes[kKeyPrefixes] = {n, sizeof(uint64_t)};
  sizes[kOutputOrder] = {n, sizeof(uint32_t)};
  // Fixed-length offsets are i * record length: the run computes them instead of storing them.
  sizes[kRecordOffsets] = {variable && !wideOffsets ? n : 0, sizeof(uint32_t)};
  sizes[kWideOffsets] = {variable && wideOffsets ? n : 0, sizeof(uint64_t)};
  sizes[kRecordLengths] = {variable ? n : 0, sizeof(uint16_t)};
  sizes[kGroupSizes] = {groups, sizeof(uint16_t)};
  sizes[kMergeScratch] = {3 * groups, sizeof(uint64_t)};
  sizes[kMergeTree] = {groups, sizeof(MergeNode)};
  sizes[kMergePrefixes] = {groups > kMergeBatch ? n : 0, sizeof(uint64_t)};
}

uint64_t WorkspaceBytes(uint64_t n, const KeyPlan *plan) {
  ArraySize sizes[kArrayCount];
  SizeArrays(n, plan, sizes);
  uint64_t bytes = 0;
  for (const ArraySize &array : sizes) bytes += array.count * array.size;
  return bytes;
}

int AllocateWorkspace(SortWorkspace *ws, uint32_t recordCount, const KeyPlan *plan) {
  memset(ws, 0, sizeof *ws);
  const uint64_t n = recordCount;
  const uint64_t keyLength = plan->keyLength;
  const bool variable = plan->variable;
  if (!variable && plan->recordBytes > plan->recordLength) return 1;
  ArraySize sizes[kArrayCount];
  SizeArrays(n, plan, sizes);
  void *blocks[kArrayCount] = {};
  int result = 0;
  for (int a = 0; a < kArrayCount && result == 0; a++) {
    if (sizes[a].count == 0) continue;
    blocks[a] = AllocateZeroed(static_cast<size_t>(sizes[a].count), static_cast<size_t>(sizes[a].size));
    if (blocks[a] == nullptr) result = 2;
  }
  // Every block that was had goes into the record, so that ReleaseWorkspace frees it.
  ws->keyArray = static_cast<unsigned char *>(blocks[kKeyArray]);
  ws->keyPointers = static_cast<uint32_t *>(blocks[kKeyPointers]);
  ws->keyPrefixes = static_cast<uint64_t *>(blocks[kKeyPrefixes]);
  ws->outputOrder = static_cast<uint32_t *>(blocks[kOutputOrder]);
  ws->recordOffsets = static_cast<uint32_t *>(blocks[kRecordOffsets]);
  ws->wideOffsets = static_cast<uint64_t *>(blocks[kWideOffsets]);
  ws->recordLengths = static_cast<uint16_t *>(blocks[kRecordLengths]);
  ws->groupSizes = static_cast<uint16_t *>(blocks[kGroupSizes]);
  ws->mergeScratch = static_cast<uint64_t *>(blocks[kMergeScratch]);
  ws->mergeTree = static_cast<MergeNode *>(blocks[kMergeTree]);
  ws->mergePrefixes = static_cast<uint64_t *>(blocks[kMergePrefixes]);
  if (result != 0) return result;
  ws->recordCount = recordCount;
  ws->keyLength = static_cast<uint32_t>(keyLength);
  const uint64_t groups = GroupCount(n);
  ws->allocatedMemoryUsage = 12 * n + 4 * groups + n * keyLength + (variable ? 2 * n : 0);
  if (ws->wideOffsets != nullptr) ws->allocatedMemoryUsage += 4 * n;  // offsets of 8 bytes, not 4
  ResetGroups(ws, recordCount);
  return 0;
}

void ResetGroups(SortWorkspace *ws, uint32_t n) {
  ws->recordCount = n;
  ws->groupCount = static_cast<uint32_t>(GroupCount(n));
  for (uint32_t g = 0; g < ws->groupCount; g++) ws->groupSizes[g] = kSortGroupSize;
  if (n % kSortGroupSize != 0) ws->groupSizes[ws->groupCount - 1] = static_cast<uint16_t>(n % kSortGroupSize);
  for (uint32_t i = 0; i < n; i++) ws->keyPointers[i] = i;
}

void ReleaseWorkspace(SortWorkspace *ws) {
  free(ws->keyArray);
  free(ws->keyPointers);
  free(ws->keyPrefixes);
  free(ws->outputOrder);
  free(ws->recordOffsets);
  free(ws->wideOffsets);
  free(ws->recordLengths);
  free(ws->groupSizes);
  free(ws->mergeScratch);
  free(ws->mergeTree);
  free(ws->mergePrefixes);
  memset(ws, 0, sizeof *ws);
}
