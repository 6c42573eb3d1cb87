/*
 * pageflow.cpp -- the page order: the pages follow the order of their bits,
 * and the destination page is passed over while the device's installer
 * chooses the location.
 */
#include "pageflow.h"
#include "format.h"

uint8_t LowestPage(uint8_t flags)
{
    for (unsigned bit = PageWelcome; bit <= PageReady; bit <<= 1)
        if (flags & bit)
            return (uint8_t)bit;
    return 0;
}

uint8_t HighestPage(uint8_t flags)
{
    for (unsigned bit = PageReady; bit >= PageWelcome; bit >>= 1)
        if (flags & bit)
            return (uint8_t)bit;
    return 0;
}

uint8_t PagesShown(uint8_t storedFlags, uint8_t useDefaultLocation)
{
    uint8_t flags = storedFlags & PageAll;
    if (flags == PageDestination && useDefaultLocation)
        return 0;
    return flags;
}

PageStep NextPage(uint8_t flags, uint8_t useDefaultLocation, uint8_t current)
{
    PageStep step = {current, 0};
    unsigned last = HighestPage(flags);
    unsigned candidate = current;

    for (;;) {
        /* Reaching the last page (or leaving a run without pages) installs.
         * The comparison comes before any further shift, so a skipped
         * destination page that is the last page installs too. */
        if (candidate == last || candidate == 0) {
            step.Page = (uint8_t)candidate;
            step.Installs = 1;
            return step;
        }
        do
            candidate <<= 1;
        while (candidate <= PageReady && !(candidate & flags));
        if (candidate > PageReady) {
            /* Only a current page that is not in flags gets here. */
            candidate = last;
            continue;
        }
        if (candidate == PageDestination && useDefaultLocation)
            continue;
        step.Page = (uint8_t)candidate;
        return step;
    }
}

uint8_t PreviousPage(uint8_t flags, uint8_t useDefaultLocation, uint8_t current)
{
    unsigned first = LowestPage(flags);
    unsigned candidate = current;

    for (;;) {
        /* The scan can end on the first page through the skip of a
         * destination page that is the first page; that page is then shown
         * rather than leaving the frame empty. */
        if (candidate == first || candidate == 0)
            return (uint8_t)first;
        do
            candidate >>= 1;
        while (candidate != 0 && !(candidate & flags));
        if (candidate == 0)
            return (uint8_t)first;
        if (candidate == PageDestination && useDefaultLocation)
            continue;
        return (uint8_t)candidate;
    }
}

int OkInstalls(uint8_t flags, uint8_t useDefaultLocation, uint8_t page)
{
    if (page == PageLocation)
        return NextPage(flags, useDefaultLocation, page).Installs;
    return page == HighestPage(flags);
}
