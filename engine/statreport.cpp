#include "engine/statreport.h"

#include <cinttypes>
#include <cstring>

static const char kCrLf[] = "\r\n";
static const size_t kCountFieldWidth = 11;

const char kStatisticsFileName[] = {kPathSeparator, 'S', 'o', 'r', 't', 'S', 't', 'a', 't', '.', 't', 'x', 't', 0};

// Right-aligns digits (a sign may lead them) with thousands commas in the number field.
static void FormatDigits(const char *digits, char field[kCountFieldSize]) {
  char grouped[kCountFieldSize];
  size_t length = strlen(digits);
  size_t at = sizeof grouped - 1;
  grouped[at] = '\0';
  int counted = 0;
  for (size_t i = length; i > 0; i--) {
    const char c = digits[i - 1];
    if (counted == 3 && c != '-') {
      grouped[--at] = ',';
      counted = 0;
    }
    grouped[--at] = c;
    counted++;
  }
  const char *text = grouped + at;
  size_t textLength = strlen(text);
  size_t pad = textLength < kCountFieldWidth ? kCountFieldWidth - textLength : 0;
  memset(field, ' ', pad);
  memcpy(field + pad, text, textLength + 1);
}

void FormatCount(uint64_t value, char field[kCountFieldSize]) {
  char digits[24];
  snprintf(digits, sizeof digits, "%" PRIu64, value);
  FormatDigits(digits, field);
}

void FormatSignedCount(int64_t value, char field[kCountFieldSize]) {
  char digits[24];
  snprintf(digits, sizeof digits, "%" PRId64, value);
  FormatDigits(digits, field);
}

FILE *OpenStatisticsFile(const char *directory, const FileIdentity *inputs, int inputCount, const OutputFile *output) {
  char path[256];
  const size_t length = strlen(directory);
  if (length + strlen(kStatisticsFileName) > sizeof path - 1) return nullptr;
  memcpy(path, directory, length);
  memcpy(path + length, kStatisticsFileName, strlen(kStatisticsFileName) + 1);
  return OpenReportFile(path, inputs, inputCount, output);
}

void WriteStatisticsHeader(FILE *file, const ReportHeader *header) {
  const ParameterRecord *job = header->job;
  const LocalTime *t = &header->time;
  char field[kCountFieldSize];
  fprintf(file, "%s  Date - %02d/%02d/%4d   Time - %02d:%02d %s", kCrLf, t->month, t->day, t->year, t->hour,
          t->minute, kCrLf);
  fprintf(file, "%s  Input File: %s", kCrLf, job->inputName);
  fprintf(file, "%s Output File: %s%s", kCrLf, job->outputName, kCrLf);
  fprintf(file, "%s Keys Used:%s", kCrLf, kCrLf);
  for (int k = 0; k < job->keyCount; k++) {
    fprintf(file, "   %-20s  Position: %3d  Length: %3d%s", job->keyTitles[k], static_cast<int>(job->keys[k].position),
            static_cast<int>(job->keys[k].length), kCrLf);
  }
  FormatCount(header->recordCount, field);
  fprintf(file, "%s Number of Records:%s", kCrLf, field);
  if (job->recordLength == kVariableRecords) {
    fprintf(file, "%s Record Size:  Variable Length%s", kCrLf, kCrLf);
  } else {
    FormatSignedCount(job->recordLength, field);
    fprintf(file, "%s Record Size:%s Bytes%s", kCrLf, field, kCrLf);
  }
  FormatCount(header->allocatedMemoryUsage, field);
  fprintf(file, "%s Allocated Memory Usage:%s Bytes%s", kCrLf, field, kCrLf);
}

void WriteStatisticsGroupLines(FILE *file, uint32_t groupCount) {
  char field[kCountFieldSize];
  FormatSignedCount(groupCount, field);
  fprintf(file, "%s Number of Sort Groups:%s%s", kCrLf, field, kCrLf);
  fprintf(file, "%s Stack Recursion Statistics for ", kCrLf);
  fprintf(file, "Each Sort Group%s %s", kCrLf, kCrLf);
}

void WriteGroupStatistics(FILE *file, const GroupCounters *counters) {
  fprintf(file, " Lo Branch =%5i  Hi Branch =%5i  ", static_cast<int>(counters->loBranches),
          static_cast<int>(counters->hiBranches));
  fprintf(file, " Returns =%5i  Stack Depth =%5i", static_cast<int>(counters->returns),
          static_cast<int>(counters->invocations - counters->returns));
  fprintf(file, "%s", kCrLf);
}

// Formats values into fields that all take the width of the widest: the 11 characters
// of FormatCount, or more when one of them needs more, so that a column stays aligned.
static void FormatColumn(const uint64_t *values, size_t count, char (*fields)[kCountFieldSize]) {
  size_t width = 0;
  for (size_t i = 0; i < count; i++) {
    FormatCount(values[i], fields[i]);
    width = strlen(fields[i]) > width ? strlen(fields[i]) : width;
  }
  for (size_t i = 0; i < count; i++) {
    const size_t length = strlen(fields[i]);
    memmove(fields[i] + width - length, fields[i], length + 1);
    memset(fields[i], ' ', width - length);
  }
}

void WriteStatisticsFooter(FILE *file, uint64_t sortCompares, uint64_t mergeCompares, const uint32_t t[5]) {
  const uint64_t compares[3] = {sortCompares, mergeCompares, sortCompares + mergeCompares};
  char count[3][kCountFieldSize];
  FormatColumn(compares, 3, count);
  fprintf(file, "%s  Number of Sort Compares:%s", kCrLf, count[0]);
  fprintf(file, "%s Number of Merge Compares:%s", kCrLf, count[1]);
  fprintf(file, "%s Total Number of Compares:%s%s", kCrLf, count[2], kCrLf);
  const uint64_t times[5] = {t[1] - t[0], t[2] - t[1], t[3] - t[2], t[4] - t[3], uint64_t{t[4] - t[0]}};
  char time[5][kCountFieldSize];
  FormatColumn(times, 5, time);
  fprintf(file, "%s      Prep Time:%s Clicks", kCrLf, time[0]);
  fprintf(file, "%s      Sort Time:%s Clicks", kCrLf, time[1]);
  fprintf(file, "%s     Merge Time:%s Clicks", kCrLf, time[2]);
  fprintf(file, "%sWrite File Time:%s Clicks", kCrLf, time[3]);
  fprintf(file, "%s Total Run Time:%s Clicks at %6.2f Clicks/Second", kCrLf, time[4], 1000.0);
  fprintf(file, "%s%s", kCrLf, kCrLf);
}
