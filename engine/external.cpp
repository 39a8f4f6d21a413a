#include "engine/external.h"

#include <algorithm>
#include <cstdlib>

#include "engine/merge.h"
#include "engine/runmerge.h"
#include "engine/runparts.h"
#include "engine/seqwriter.h"
#include "engine/statreport.h"

static const uint32_t kIndexBytes = 4;  // a run entry's record index

int AllocateExternalSort(SortRunState *run, uint64_t *figure) {
  const ExternalPlan *plan = &run->externalPlan;
  ExternalSort *ext = static_cast<ExternalSort *>(AllocateZeroed(1, sizeof(ExternalSort)));
  if (ext == nullptr) return 2;
  run->externalSort = ext;
  const int allocated = AllocateWorkspace(&ext->partWorkspace, plan->partRecords, &run->plan);
  if (allocated != 0) return allocated;
  ext->block.capacity = plan->partBuffer;
  ext->block.bytes = static_cast<unsigned char *>(AllocateZeroed(plan->partBuffer, 1));
  ext->runs = static_cast<RunFile *>(AllocateZeroed(plan->runCapacity, sizeof(RunFile)));
  ext->writerBuffers = static_cast<unsigned char *>(AllocateZeroed(2, kWriterBuffer));
  if (ext->block.bytes == nullptr || ext->runs == nullptr || ext->writerBuffers == nullptr) return 2;
  for (uint32_t r = 0; r < plan->runCapacity; r++) ext->runs[r].handle = -1;
  ext->entryHead = ext->partWorkspace.keyLength + (run->statisticsFlag == 1 ? kIndexBytes : 0);
  ext->partWorkspace.uncountedMerge = true;
  // The part's phases: the part buffer as input, on the run's pool, silent.
  PhaseInput *part = &ext->part;
  part->recordLength = run->job.recordLength;
  part->ws = &ext->partWorkspace;
  part->plan = &run->plan;
  part->pool = RunPool(run);
  part->threads = run->options.threads;
  part->scratch = run->recordBuffer;
  part->scratchSize = run->bufferSize;
  const uint64_t partPhase = ext->partWorkspace.allocatedMemoryUsage + plan->partBuffer + 2 * kWriterBuffer;
  const uint64_t groups = (run->recordCount + kSortGroupSize - 1) / kSortGroupSize;
  const uint64_t mergePhase = RunMergeBytes(plan->fanIn, plan->readSize, groups) + 2 * kWriterBuffer;
  *figure = 2 * uint64_t{run->bufferSize} + std::max(partPhase, mergePhase);
  return 0;
}

// The part's memory goes before the merges take theirs.
static void ReleaseParts(ExternalSort *ext) {
  ReleaseWorkspace(&ext->partWorkspace);
  free(ext->block.bytes);
  ext->block.bytes = nullptr;
}

void SortExternally(SortRunState *run) {
  ExternalSort *ext = run->externalSort;
  if (run->statistics != nullptr) WriteStatisticsGroupLines(run->statistics, (run->recordCount + kSortGroupSize - 1) / kSortGroupSize);
  run->t[1] = ElapsedMilliseconds();
  if (WriteRunFiles(run) != 0 || FailIfInputChanged(run) != 0) return;
  ReleaseParts(ext);
  run->t[2] = ElapsedMilliseconds();
  if (StartRunMerge(run) != 0 || MergeDown(run) != 0) return;
  run->t[3] = ElapsedMilliseconds();
  if (MergeIntoOutput(run) != 0) return;
  MergeCompares = ext->count.total;
}

void ReleaseExternalSort(SortRunState *run) {
  ExternalSort *ext = run->externalSort;
  if (ext == nullptr) return;
  ReleaseParts(ext);
  free(ext->writerBuffers);
  for (uint32_t r = 0; ext->runs != nullptr && r < ext->runCount; r++) RemoveRunFile(&ext->runs[r]);
  for (uint32_t r = 0; ext->merged != nullptr && r < ext->mergedCount; r++) RemoveRunFile(&ext->merged[r]);
  free(ext->runs);
  free(ext->merged);
  for (uint32_t r = 0; ext->readers != nullptr && r < run->externalPlan.fanIn; r++) free(ext->readers[r].buffer);
  free(ext->readers);
  free(ext->losers);
  free(ext->winners);
  ReleaseStreamedCount(&ext->count);
  free(ext);
  run->externalSort = nullptr;
}
