// rescanning.cpp -- the reference replacement rule; see rescanning.h.
#include "rescanning.h"

#include <string.h>

VCHAR *ReplaceAllRescanning(const VCHAR *text, const VCHAR *pattern, const VCHAR *replacement,
                            unsigned long maxSteps)
{
    size_t patternLength = TextLength(pattern);
    size_t replacementLength = TextLength(replacement);
    VCHAR *result = NULL;
    if (!AssignString(&result, text))
        return NULL;
    if (patternLength == 0)
        return result;
    for (unsigned long step = 0;; ++step) {
        size_t length = TextLength(result);
        size_t at = (size_t)-1;
        for (size_t i = 0; i + patternLength <= length && at == (size_t)-1; ++i) {
            size_t k = 0;
            while (k < patternLength && FoldCase(result[i + k]) == FoldCase(pattern[k]))
                ++k;
            if (k == patternLength)
                at = i;
        }
        if (at == (size_t)-1)
            return result;
        if (step >= maxSteps) {
            VFree(result);
            return NULL;
        }
        size_t newLength = length - patternLength + replacementLength;
        VCHAR *grown = (VCHAR *)VAlloc((newLength + 1) * sizeof(VCHAR));
        if (!grown) {
            VFree(result);
            return NULL;
        }
        memcpy(grown, result, at * sizeof(VCHAR));
        memcpy(grown + at, replacement, replacementLength * sizeof(VCHAR));
        memcpy(grown + at + replacementLength, result + at + patternLength,
               (length - at - patternLength + 1) * sizeof(VCHAR));
        VFree(result);
        result = grown;
    }
}
