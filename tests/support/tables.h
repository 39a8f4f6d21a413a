// Tables of cases kept as data files beside the tests that play them. One row a line, split
// into words at blanks; a "quoted" word may hold blanks and the escapes \n \r \t \0 \\ \",
// \xHH (two hex digits) and \*Nc (N times c, itself perhaps an escape). Blank lines and
// lines that start with '#' are no rows; an unquoted word that starts with '#' begins a
// comment to the end of its line.
#ifndef PELMAR_TESTS_SUPPORT_TABLES_H
#define PELMAR_TESTS_SUPPORT_TABLES_H

#include <functional>
#include <string>
#include <vector>

struct TableRow {
  int line;          // in the file, from 1
  std::string text;  // as written
  std::vector<std::string> words;
};

// Plays each row of the file at path, inside a trace that names the file, the line and its
// text (an exception that play throws fails the row); then expects the file read whole (a
// line that cannot be split, with an unended quote or an unknown escape, ends it), with at
// least rows rows.
void PlayTable(const std::string &path, size_t rows, const std::function<void(const TableRow &row)> &play);

#endif
