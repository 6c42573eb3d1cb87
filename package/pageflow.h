/*
 * pageflow.h -- which wizard page follows which.  The one place that knows
 * the page order, the destination skip, the first and last page and what
 * OK is called; the shell, the pages and the authoring tool all ask here.
 * Pure: no window, no global, so the whole rule is tested natively.
 */
#ifndef VELKOR_PAGEFLOW_H
#define VELKOR_PAGEFLOW_H

#include <stdint.h>

/* The pages a package shows, from its stored flag byte: bits that name no
 * page are dropped, and a destination page alone that would always be
 * skipped leaves none. */
uint8_t PagesShown(uint8_t storedFlags, uint8_t useDefaultLocation);

/* Lowest and highest of the six page bits; 0 for none. */
uint8_t LowestPage(uint8_t flags);
uint8_t HighestPage(uint8_t flags);

/* Where one step of the wizard leads. */
typedef struct {
    uint8_t Page;      /* the page to show; with Installs, the page the
                          wizard stands on while it installs (the last) */
    uint8_t Installs;  /* Next went past the last page */
} PageStep;

/* Next from current (0: a package without pages, which installs at once).
 * The destination page is passed over while useDefaultLocation is set,
 * unless it is the last page, where the step installs. */
PageStep NextPage(uint8_t flags, uint8_t useDefaultLocation, uint8_t current);

/* Back from current.  Ends on the first page, which is shown even when the
 * scan reaches it only through the destination skip. */
uint8_t PreviousPage(uint8_t flags, uint8_t useDefaultLocation, uint8_t current);

/* Whether OK on page reads TextInstallButton rather than TextNextButton.
 * The last page installs.  The location page is where the skip is chosen,
 * so its caption follows the choice: it installs when only a skipped
 * destination page would follow.  Every other page keeps the caption it was
 * given when first shown. */
int OkInstalls(uint8_t flags, uint8_t useDefaultLocation, uint8_t page);

#endif
