/*
 * text.h -- zero-terminated UTF-16 strings on the heap, placeholder
 * expansion and the path helpers of the free-space walk.
 */
#ifndef VELKOR_TEXT_H
#define VELKOR_TEXT_H

#include "base.h"

size_t TextLength(const VCHAR *text);
VCHAR FoldCase(VCHAR c);   /* one code unit to lower case; same table on every build */

/* New string with every occurrence of pattern (ignoring case) replaced,
 * searching again from the left after each replacement.  A replacement that
 * contains its own pattern is not searched again, and an empty pattern
 * matches nothing, so the operation always ends.  NULL: no memory, or more
 * than ReplaceStepLimit replacements (a replacement that keeps rebuilding
 * the pattern with the text around it). */
VCHAR *ReplaceAll(const VCHAR *text, const VCHAR *pattern, const VCHAR *replacement);

/* The text with %SoftwareName%, %CompanyName% and every package variable
 * replaced, in that order.  NULL: no memory. */
VCHAR *ExpandText(const VCHAR *text);

/* Growable strings: 0 when memory ran out, and *target is then NULL. */
int AssignString(VCHAR **target, const VCHAR *source);
int AppendString(VCHAR **target, const VCHAR *source);

/* The amount of the space line: "<n> bytes" below 1 Kb, else "<n> Kb",
 * "<n> Mb" or "<n> Gb", the number rounded down.  amount holds at least
 * SPACE_AMOUNT_SIZE units. */
#define SPACE_AMOUNT_SIZE 18
void FormatSpaceAmount(uint32_t bytes, VCHAR *amount);

void CutAfterLastBackslash(VCHAR *path);
void DropTrailingBackslash(VCHAR *path);

/* Replacements ReplaceAll makes on a text of this length before it gives up
 * with NULL, as if memory had run out. */
unsigned long ReplaceStepLimit(size_t textLength);

#endif
