/*
 * text.cpp -- wide-string helpers and placeholder expansion.
 *
 * ReplaceAll keeps the rule "after each replacement, find the leftmost match
 * of the whole string again", but in one left-to-right pass: all matches have
 * the pattern's length, so the leftmost one is also the one that ends first.
 * Finished text sits on an output stack that never holds a match; pending
 * units (the rest of the input, and replacements still to be looked at) are
 * pushed onto it one at a time, and whenever the top of the stack spells the
 * pattern it is popped and the replacement goes back to the pending units.
 */
#include "text.h"
#include "package.h"

#include <string.h>

size_t TextLength(const VCHAR *text)
{
    size_t n = 0;
    while (text[n])
        ++n;
    return n;
}

VCHAR FoldCase(VCHAR c)
{
    if (c < 0x80)
        return (c >= 'A' && c <= 'Z') ? (VCHAR)(c + 32) : c;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)            /* Latin-1 capitals */
        return (VCHAR)(c + 32);
    if (c >= 0x100 && c <= 0x17F) {                        /* Latin Extended-A pairs */
        if ((c >= 0x139 && c <= 0x148) || (c >= 0x179 && c <= 0x17E))
            return (c & 1) ? (VCHAR)(c + 1) : c;
        if (c == 0x130 || c == 0x131 || c == 0x138 || c == 0x149 || c == 0x17F)
            return c;
        if (c == 0x178)
            return 0xFF;
        return (c & 1) ? c : (VCHAR)(c + 1);
    }
    if (c >= 0x391 && c <= 0x3AB && c != 0x3A2)            /* Greek */
        return (VCHAR)(c + 32);
    if (c >= 0x410 && c <= 0x42F)                          /* Cyrillic */
        return (VCHAR)(c + 32);
    if (c >= 0x400 && c <= 0x40F)
        return (VCHAR)(c + 80);
    return c;
}

static int ContainsFolded(const VCHAR *text, size_t textLength, const VCHAR *folded, size_t length)
{
    if (length == 0 || textLength < length)
        return 0;
    for (size_t i = 0; i + length <= textLength; ++i) {
        size_t k = 0;
        while (k < length && FoldCase(text[i + k]) == folded[k])
            ++k;
        if (k == length)
            return 1;
    }
    return 0;
}

static int IsOneOf(VCHAR c, const VCHAR *set, size_t count)
{
    for (size_t i = 0; i < count; ++i)
        if (set[i] == c)
            return 1;
    return 0;
}

/* Index of the first unit equal to u in text[from, end), or end; four units
 * a step while none of them can match. */
static size_t FindUnit(const VCHAR *text, size_t from, size_t end, VCHAR u)
{
    const uint64_t ones = 0x0001000100010001ull, highs = 0x8000800080008000ull;
    uint64_t spread = ones * u;
    while (end - from >= 4) {
        uint64_t v;
        memcpy(&v, text + from, sizeof v);
        v ^= spread;
        if ((v - ones) & ~v & highs)
            break;
        from += 4;
    }
    while (from < end && text[from] != u)
        ++from;
    return from;
}

/* Growable buffer of code units on the heap. */
typedef struct {
    VCHAR *Units;
    size_t Length;
    size_t Capacity;
} UnitStack;

static int Reserve(UnitStack *s, size_t extra)
{
    if (s->Length + extra <= s->Capacity)
        return 1;
    size_t capacity = s->Capacity ? s->Capacity : 64;
    while (capacity < s->Length + extra)
        capacity *= 2;
    VCHAR *units = (VCHAR *)VResize(s->Units, capacity * sizeof(VCHAR));
    if (!units)
        return 0;
    s->Units = units;
    s->Capacity = capacity;
    return 1;
}

VCHAR *ReplaceAll(const VCHAR *text, const VCHAR *pattern, const VCHAR *replacement)
{
    size_t textLength = TextLength(text);
    size_t patternLength = TextLength(pattern);
    size_t replacementLength = TextLength(replacement);

    VCHAR *folded = (VCHAR *)VAlloc((patternLength + 1) * sizeof(VCHAR));
    if (!folded)
        return NULL;
    for (size_t i = 0; i <= patternLength; ++i)
        folded[i] = FoldCase(pattern[i]);

    /* A replacement holding its own pattern would be found forever; it is
     * inserted as it stands and the search goes on behind it. */
    int rescanReplacement = !ContainsFolded(replacement, replacementLength, folded, patternLength);

    UnitStack out = {NULL, 0, 0};
    UnitStack pending = {NULL, 0, 0};    /* replacement units still to push, top = next */
    size_t next = 0;                     /* next unit of the input text */
    size_t floor = 0;                    /* no match may start below this output index */
    unsigned long steps = 0, maxSteps = ReplaceStepLimit(textLength);
    int ok = Reserve(&out, textLength + 1);

    /* The few code units that fold to the pattern's last one, for a quick scan. */
    VCHAR last = patternLength ? folded[patternLength - 1] : 0;
    VCHAR ends[6];
    size_t endCount = 0;
    {
        const VCHAR candidates[6] = {last, (VCHAR)(last - 32), (VCHAR)(last - 80), (VCHAR)(last - 1),
                                     (VCHAR)(last + 1), 0x178};
        for (size_t i = 0; i < 6; ++i) {
            size_t k = 0;
            while (k < endCount && ends[k] != candidates[i])
                ++k;
            if (k == endCount && FoldCase(candidates[i]) == last)
                ends[endCount++] = candidates[i];
        }
    }
    while (ok && patternLength > 0) {
        VCHAR unit;
        if (pending.Length > 0) {
            unit = pending.Units[--pending.Length];
        } else {
            /* No match can end on a unit that is not the pattern's last one:
             * copy the run before the next such unit in one go. */
            size_t run = next;
            if (endCount == 1) {
                run = FindUnit(text, run, textLength, ends[0]);
            } else {
                while (run < textLength && !IsOneOf(text[run], ends, endCount))
                    ++run;
            }
            if (run > next) {
                if (!(ok = Reserve(&out, run - next)))
                    break;
                memcpy(out.Units + out.Length, text + next, (run - next) * sizeof(VCHAR));
                out.Length += run - next;
                next = run;
            }
            if (next >= textLength)
                break;
            unit = text[next++];
        }
        if (!(ok = Reserve(&out, 1)))
            break;
        out.Units[out.Length++] = unit;
        if (out.Length < floor + patternLength || FoldCase(unit) != last)
            continue;
        size_t start = out.Length - patternLength;
        size_t k = 0;
        while (k < patternLength && FoldCase(out.Units[start + k]) == folded[k])
            ++k;
        if (k < patternLength)
            continue;
        if (++steps > maxSteps) {
            ok = 0;      /* a replacement that keeps recreating the pattern */
            break;
        }
        out.Length = start;
        if (rescanReplacement) {
            if (!(ok = Reserve(&pending, replacementLength)))
                break;
            for (size_t i = replacementLength; i > 0; --i)
                pending.Units[pending.Length++] = replacement[i - 1];
        } else {
            if (!(ok = Reserve(&out, replacementLength)))
                break;
            memcpy(out.Units + out.Length, replacement, replacementLength * sizeof(VCHAR));
            out.Length += replacementLength;
            floor = out.Length;
        }
    }
    if (ok && patternLength == 0) {
        memcpy(out.Units, text, textLength * sizeof(VCHAR));
        out.Length = textLength;
    }

    VCHAR *result = NULL;
    if (ok) {
        /* Hand back a block of exactly the text's size. */
        result = (VCHAR *)VResize(out.Units, (out.Length + 1) * sizeof(VCHAR));
        if (result) {
            result[out.Length] = 0;
            out.Units = NULL;
        }
    }
    VFree(out.Units);
    VFree(pending.Units);
    VFree(folded);
    return result;
}

unsigned long ReplaceStepLimit(size_t textLength)
{
    /* Far above any real text (one step per placeholder), yet it stops a
     * replacement that rebuilds the pattern with its neighbours forever,
     * where the rescanning rule would only end when memory runs out. */
    return (unsigned long)(16 * (textLength + 1) + 4096);
}

VCHAR *ExpandText(const VCHAR *text)
{
    static const VCHAR software[] = VTEXT("%SoftwareName%");
    static const VCHAR company[] = VTEXT("%CompanyName%");
    static const VCHAR empty[] = {0};

    VCHAR *result = ReplaceAll(text, software, Package.SoftwareName ? Package.SoftwareName : empty);
    if (!result)
        return NULL;
    VCHAR *next = ReplaceAll(result, company, Package.CompanyName ? Package.CompanyName : empty);
    VFree(result);
    result = next;
    for (uint32_t i = 0; result && i < Package.VariableCount; ++i) {
        const Variable *v = &Package.Variables[i];
        if (!v->Name || !v->Value)
            continue;
        next = ReplaceAll(result, v->Name, v->Value);
        VFree(result);
        result = next;
    }
    return result;
}

int AssignString(VCHAR **target, const VCHAR *source)
{
    size_t bytes = (TextLength(source) + 1) * sizeof(VCHAR);
    VCHAR *block = *target ? (VCHAR *)VResize(*target, bytes) : (VCHAR *)VAlloc(bytes);
    if (!block) {
        VFree(*target);
        *target = NULL;
        return 0;
    }
    memmove(block, source, bytes);
    *target = block;
    return 1;
}

int AppendString(VCHAR **target, const VCHAR *source)
{
    if (!*target)
        return AssignString(target, source);
    size_t have = TextLength(*target);
    size_t add = TextLength(source);
    VCHAR *block = (VCHAR *)VResize(*target, (have + add + 1) * sizeof(VCHAR));
    if (!block) {
        VFree(*target);
        *target = NULL;
        return 0;
    }
    memmove(block + have, source, (add + 1) * sizeof(VCHAR));
    *target = block;
    return 1;
}

void CutAfterLastBackslash(VCHAR *path)
{
    size_t n = TextLength(path);
    while (n > 0) {
        if (path[n - 1] == '\\') {
            path[n] = 0;
            return;
        }
        --n;
    }
}

void DropTrailingBackslash(VCHAR *path)
{
    size_t n = TextLength(path);
    if (n > 0 && path[n - 1] == '\\')
        path[n - 1] = 0;
}

void FormatSpaceAmount(uint32_t bytes, VCHAR *amount)
{
    static const VCHAR Bytes[] = VTEXT(" bytes"), Kb[] = VTEXT(" Kb"), Mb[] = VTEXT(" Mb"), Gb[] = VTEXT(" Gb");
    /* Whole units by shifting: no floating point on the device. */
    const VCHAR *unit = Bytes;
    uint32_t number = bytes;
    if (bytes >= (1u << 30)) {
        number = bytes >> 30;
        unit = Gb;
    } else if (bytes >= (1u << 20)) {
        number = bytes >> 20;
        unit = Mb;
    } else if (bytes >= (1u << 10)) {
        number = bytes >> 10;
        unit = Kb;
    }
    VCHAR digits[10];
    VCHAR *first = digits + 10;   /* filled from the end */
    do {
        *--first = (VCHAR)('0' + number % 10);
        number /= 10;
    } while (number);
    while (first < digits + 10)
        *amount++ = *first++;
    while (*unit)
        *amount++ = *unit++;
    *amount = 0;
}
