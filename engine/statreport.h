// Statistics report, "SortStat.txt": a plain-text account of one run with CR LF line ends,
// written piecewise as the run passes its points: the header once the workspace exists,
// the group lines after keying, one line per sort group, and the footer at the end of a
// run that did not fail. Every count and time stands in one right-aligned number field.
#ifndef PELMAR_ENGINE_STATREPORT_H
#define PELMAR_ENGINE_STATREPORT_H

#include <cstdint>
#include <cstdio>

#include "os/platform.h"
#include "engine/sorttypes.h"

// What one group's quicksort did (groupsort.h), as its report line tells it.
struct GroupCounters {
  uint32_t invocations;  // quicksort invocations
  uint32_t returns;      // invocations whose range held one reference
  uint32_t loBranches;   // recursions into the part left of a pivot
  uint32_t hiBranches;   // recursions into the part right of a pivot
};

constexpr size_t kCountFieldSize = 32;  // number field: 11 characters, wider for 10 digits or more
// (the footer widens a whole column to its widest number, so that it stays aligned)

// Writes value with a comma after every third digit from the right, right-aligned in 11
// characters; a number that needs more (ten digits or more) takes the room it needs.
// 0 gives ten blanks and "0"; 1234 gives six blanks and "1,234".
void FormatCount(uint64_t value, char field[kCountFieldSize]);
void FormatSignedCount(int64_t value, char field[kCountFieldSize]);

// The report's file name after the folder: the separator and "SortStat.txt".
extern const char kStatisticsFileName[];

// Opens directory + kStatisticsFileName for writing, emptying it (OpenReportFile). Null
// when it cannot be opened, when it is one of the run's inputs or its output, and when the
// path does not fit 255 characters.
FILE *OpenStatisticsFile(const char *directory, const FileIdentity *inputs, int inputCount, const OutputFile *output);

// What the header tells of the run.
struct ReportHeader {
  LocalTime time;                 // when the header is written
  const ParameterRecord *job;     // names, keys and titles
  uint32_t recordCount;           // n
  uint64_t allocatedMemoryUsage;  // bytes
};

void WriteStatisticsHeader(FILE *file, const ReportHeader *header);
void WriteStatisticsGroupLines(FILE *file, uint32_t groupCount);
void WriteGroupStatistics(FILE *file, const GroupCounters *counters);

// t[0] to t[4]: the run's clock readings in milliseconds.
void WriteStatisticsFooter(FILE *file, uint64_t sortCompares, uint64_t mergeCompares, const uint32_t t[5]);

#endif
