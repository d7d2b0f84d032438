#include "core/base/job_budget.h"

#include <algorithm>
#include <cstdlib>
#include <unistd.h>

namespace JobBudget {

unsigned long long bytes()
{
    if (const char* given = std::getenv("BRIVLON_JOB_MEMORY"))
        if (const long long mebibytes = std::atoll(given); mebibytes > 0)
            return (unsigned long long)mebibytes << 20;
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    const auto machine = pages > 0 && pageSize > 0 ? (unsigned long long)pages * (unsigned long long)pageSize : 0;
    return std::clamp(machine / 4, least, 8ULL << 30);
}

Limits limits() { return limits(bytes()); }

}
