// pelmar-sort's key language: a --key written as POS,LEN,TYPE,SEQ beyond what the Sort
// dialog's fields take. POS is a byte position, or fN (field N from its first byte) or fN.C
// (from its C-th byte); TYPE is one of the engine's type names (engine/keys.h: c a i u f
// bi bu bf pd zd za n). A command line whose keys stay within the dialog's language goes
// through the dialog's own validation; one with a wider key is read here, every key by the
// rules of its type, and checked against the records once the record size is known.
// Call order: UsesWideKeys, then ReadWideKey for each key, then CheckWideKeys.
#ifndef PELMAR_CLI_KEYLANGUAGE_H
#define PELMAR_CLI_KEYLANGUAGE_H

#include <cstddef>
#include <cstdint>

#include "cli/commandline.h"
#include "engine/keys.h"

// 1 when a key's parts (as typed) name a field, or a type other than c, a, i, u and f
// (pelmar-sort's further types, or none at all: the key is then refused as unreadable).
int UsesWideKeys(const CommandLine *line);

// Reads key k of the command line into key (field, type letter and all). Returns 0, or 2
// with "key K (TEXT): RULE" in error for a key that cannot be read: an unknown type or
// sequence, a position or length that is no number, a length the type does not take, f0, a
// key on a field without --field-separator or --csv, a type that text lines or fields do not
// take.
int ReadWideKey(const CommandLine *line, int k, KeyField *key, char *error, size_t errorSize);

// The keys at a byte position of fixed-length records of recordLength bytes lie inside the
// record. Returns 0, or 1 with the first key that does not in error.
int CheckWideKeys(const CommandLine *line, const KeyField *keys, int32_t recordLength, char *error, size_t errorSize);

// A key as typed, "POS,LEN,TYPE,SEQ" with its empty parts left out, for messages.
void DescribeKey(const CommandLine *line, int k, char *text, size_t capacity);

#endif
