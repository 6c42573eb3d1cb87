// plancheck.h -- the promise every install plan keeps whatever the setup
// information says: each file and shortcut lands inside the install folder
// or a macro folder, under a path already in its normal form.
#pragma once

#include "ce000.h"

#include <vector>

namespace wceload {

// The planned paths that break the promise; empty when the plan keeps it.
inline std::vector<Str> StrayPaths(const InstallPlan &plan)
{
    std::vector<Str> paths, stray;
    for (const PlannedFile &f : plan.Files)
        paths.push_back(f.Target);
    for (const PlannedLink &l : plan.Links)
        paths.push_back(l.Path);
    for (const Str &p : paths) {
        bool inside = IsWithinFolder(p, plan.InstallFolder);
        for (unsigned n = 1; n <= 17; ++n)
            if (MacroFolder(n))
                inside = inside || IsWithinFolder(p, MacroFolder(n));
        Str clean;
        if (!inside || !NormaliseDevicePath(p, 2, &clean) || clean != p)
            stray.push_back(p);
    }
    return stray;
}

}  // namespace wceload
