// fuzz_setupinfo.cpp -- libFuzzer target for the setup-information reader
// and the planner.  Besides the sanitizers it checks the one promise that
// matters: a plan that is made never places anything outside the install
// folder and the macro folders.
#include "ce000.h"
#include "plancheck.h"

#include <stdlib.h>

using namespace wceload;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    CeSetupInfo info;
    std::string error;
    if (!ParseSetupInfo(data, size, &info, &error))
        return 0;
    static const std::vector<Str> members = {u"A.001", u"A.002", u"A.003", u"A.004", u"A.005",
                                             u"A.006", u"A.007", u"A.008", u"A.009", u"B.000"};
    for (const Str &destination : {Str(), Str(u"\\Storage Card\\T"), Str(u"\\")}) {
        InstallPlan plan;
        if (!PlanInstall(info, members, destination, 2, &plan, &error))
            continue;
        if (!StrayPaths(plan).empty())
            abort();
    }
    return 0;
}
