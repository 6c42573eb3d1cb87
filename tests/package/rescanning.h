// rescanning.h -- ReplaceAll's rule as first written, kept as the reference
// that the differential tests and the benchmark hold the real one against.
#pragma once

#include "text.h"

// Replace the leftmost match, then search the whole string again.
// Quadratic.  Gives up (NULL) after maxSteps replacements.
VCHAR *ReplaceAllRescanning(const VCHAR *text, const VCHAR *pattern, const VCHAR *replacement,
                            unsigned long maxSteps);
