// sweep_test.cpp -- every combination of the six page bits, with the default
// location chosen and not: Next walks the expected pages, Back walks them
// back, and the wizard ends either past the last page or at once on Cancel.
// One setup program per combination, several at a time.
#include "wizard_support.h"

#include <gtest/gtest.h>

#include <chrono>
#include <iostream>

using namespace robot;
using namespace wizardtest;

namespace {

TEST(Sweep, EveryPageCombinationWalksForwardAndBackAndEnds)
{
    auto started = std::chrono::steady_clock::now();
    // Combination k: page bits k / 2, default location k % 2.
    std::vector<std::string> failures =
        RunSideBySide(128, [](size_t k) { return RunCombination(int(k / 2), k % 2 == 1); });
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    int failed = 0;
    for (size_t k = 0; k < failures.size(); ++k) {
        if (failures[k].empty())
            continue;
        ++failed;
        int flags = int(k / 2);
        bool udl = k % 2 == 1;
        ADD_FAILURE() << Combination(flags, udl) << ": expected " << PageList(ExpectedPages(flags, udl)) << "\n  "
                      << failures[k];
    }
    std::cout << failures.size() << " combinations, " << failed << " failed, " << seconds << " s\n";
}

}  // namespace
