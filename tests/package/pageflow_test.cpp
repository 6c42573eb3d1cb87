// The page order on every flag set, against a model written the other way
// round (the list of pages a user can reach) and the sequences the wizard
// is known for.
#include <gtest/gtest.h>

#include <algorithm>

#include "format.h"
#include "pageflow.h"

#include <string>
#include <vector>

namespace {

const uint8_t W = PageWelcome, A = PageAgreement, C = PageComponents, L = PageLocation, D = PageDestination,
              R = PageReady;

// The pages Next and Back can land on while the location choice stays as
// it is: every page but a skipped destination page.
std::vector<uint8_t> Reachable(uint8_t flags, bool useDefault)
{
    std::vector<uint8_t> pages;
    for (unsigned bit = W; bit <= R; bit <<= 1)
        if ((flags & bit) && !(bit == D && useDefault))
            pages.push_back(uint8_t(bit));
    return pages;
}

// The pages shown by pressing Next from the first page until it installs.
std::vector<uint8_t> WalkForward(uint8_t flags, bool useDefault, uint8_t *installedOn)
{
    std::vector<uint8_t> shown;
    uint8_t current = LowestPage(flags);
    if (current)
        shown.push_back(current);
    for (int guard = 0; guard < 8; ++guard) {
        PageStep step = NextPage(flags, useDefault, current);
        if (step.Installs) {
            *installedOn = step.Page;
            return shown;
        }
        shown.push_back(step.Page);
        current = step.Page;
    }
    ADD_FAILURE() << "Next never reaches the installation for flags " << int(flags);
    return shown;
}

std::string Describe(uint8_t stored, bool useDefault)
{
    return "stored flags " + std::to_string(stored) + (useDefault ? ", default location" : ", chosen folder");
}

TEST(PageFlow, EveryFlagSetForwardBackAndCaptions)
{
    for (unsigned stored = 0; stored < 64; ++stored) {
        for (bool useDefault : {false, true}) {
            SCOPED_TRACE(Describe(uint8_t(stored), useDefault));
            uint8_t flags = PagesShown(uint8_t(stored), useDefault);
            uint8_t first = LowestPage(flags), last = HighestPage(flags);

            // Forward: the first page (even a skipped destination page), then
            // every reachable page above it, then the installation standing
            // on the last page.
            std::vector<uint8_t> expected;
            if (first)
                expected.push_back(first);
            for (uint8_t page : Reachable(flags, useDefault))
                if (page > first)
                    expected.push_back(page);
            uint8_t installedOn = 0xFF;
            std::vector<uint8_t> shown = WalkForward(flags, useDefault, &installedOn);
            EXPECT_EQ(shown, expected);
            EXPECT_EQ(installedOn, last);

            // Back from every page shown retraces the walk and stops on the
            // first page, which is shown again rather than nothing.
            for (size_t i = 0; i < shown.size(); ++i)
                EXPECT_EQ(PreviousPage(flags, useDefault, shown[i]), shown[i ? i - 1 : 0]) << "Back from " << int(shown[i]);

            // The skipped destination page shown again by a refused
            // installation: Next installs again, Back leaves it for the page
            // below it.
            if (last == D && useDefault && first != D) {
                PageStep again = NextPage(flags, useDefault, D);
                EXPECT_TRUE(again.Installs);
                EXPECT_EQ(again.Page, D);
                EXPECT_EQ(PreviousPage(flags, useDefault, D), HighestPage(flags & (D - 1)));
            }

            // OK reads Install on the last page only, but on the location
            // page whenever no reachable page follows it.
            std::vector<uint8_t> reachable = Reachable(flags, useDefault);
            bool nothingAfterLocation = std::none_of(reachable.begin(), reachable.end(), [](uint8_t p) { return p > L; });
            for (uint8_t page : shown) {
                bool installs = page == last || (page == L && nothingAfterLocation);
                EXPECT_EQ(OkInstalls(flags, useDefault, page) != 0, installs) << "OK on " << int(page);
                if (page == L)
                    EXPECT_EQ(NextPage(flags, useDefault, L).Installs != 0, installs) << "Next on the location page";
            }
        }
    }
}

TEST(PageFlow, TheSequencesTheWizardIsKnownFor)
{
    struct Row {
        uint8_t stored;
        bool useDefault;
        std::vector<uint8_t> pages;   // shown by Next from the first page
    } rows[] = {
        {63, false, {W, A, C, L, D, R}},
        {63, true, {W, A, C, L, R}},
        {W | L | D, false, {W, L, D}},
        {W | L | D, true, {W, L}},
        {W | D, true, {W}},
        {D, false, {D}},
        {D, true, {}},      // loaded as no pages
        {0, false, {}},
        {0x25, true, {W, C, R}},
        {D | R, true, {D, R}},   // the destination page shows only as the first page
        {64 | 128, false, {}},   // bits that name no page
    };
    for (const Row &row : rows) {
        SCOPED_TRACE(Describe(row.stored, row.useDefault));
        uint8_t flags = PagesShown(row.stored, row.useDefault);
        uint8_t installedOn;
        EXPECT_EQ(WalkForward(flags, row.useDefault, &installedOn), row.pages);
    }

    // All six with the default location: Back from ready goes to location.
    EXPECT_EQ(PreviousPage(63, 1, R), L);
    // Welcome and a skipped destination page: welcome's OK still reads Next
    // although its Next installs.
    EXPECT_FALSE(OkInstalls(W | D, 1, W));
    EXPECT_TRUE(NextPage(W | D, 1, W).Installs);
    // The destination page alone: first and last, so OK installs.
    EXPECT_TRUE(OkInstalls(D, 0, D));
    EXPECT_EQ(LowestPage(D), HighestPage(D));
    // The location page's caption follows the choice made on it.
    EXPECT_TRUE(OkInstalls(W | L | D, 1, L));
    EXPECT_FALSE(OkInstalls(W | L | D, 0, L));
    EXPECT_FALSE(OkInstalls(L | D | R, 1, L));
    // A package without pages installs from page 0 at once; Back from
    // nothing stays on nothing.
    PageStep none = NextPage(0, 1, 0);
    EXPECT_TRUE(none.Installs);
    EXPECT_EQ(none.Page, 0);
    EXPECT_EQ(PreviousPage(0, 1, 0), 0);
}

}  // namespace
