// sweep_test.cpp -- every combination of the six page bits, with the default
// location chosen and not: Next walks the expected pages, Back walks them
// back, and the wizard ends either past the last page or at once on Cancel.
// One setup program per combination, several at a time.
#include "wizard_support.h"

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <sstream>
#include <thread>

using namespace robot;
using namespace wizardtest;

namespace {

TEST(Sweep, EveryPageCombinationWalksForwardAndBackAndEnds)
{
    struct Case {
        int flags;
        bool udl;
        std::string failure;
    };
    std::vector<Case> cases;
    for (int flags = 0; flags < 64; ++flags)
        for (bool udl : {false, true})
            cases.push_back({flags, udl, ""});

    unsigned threads = 4;
    std::wstring t = Env(L"VELKOR_SWEEP_THREADS");
    if (!t.empty())
        threads = unsigned(std::max(1, _wtoi(t.c_str())));

    auto started = std::chrono::steady_clock::now();
    std::atomic<size_t> next{0};
    std::vector<std::thread> workers;
    for (unsigned i = 0; i < threads; ++i) {
        workers.emplace_back([&] {
            for (size_t k; (k = next++) < cases.size();) {
                Case &c = cases[k];
                try {
                    c.failure = RunCombination(c.flags, c.udl);
                } catch (const std::exception &e) {
                    c.failure = e.what();
                }
            }
        });
    }
    for (std::thread &w : workers)
        w.join();
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();

    int failed = 0;
    for (const Case &c : cases) {
        if (!c.failure.empty()) {
            ++failed;
            ADD_FAILURE() << Combination(c.flags, c.udl) << ": expected " << PageList(ExpectedPages(c.flags, c.udl))
                          << "\n  " << c.failure;
        }
    }
    std::cout << cases.size() << " combinations, " << failed << " failed, " << seconds << " s on " << threads
              << " threads\n";
}

}  // namespace
