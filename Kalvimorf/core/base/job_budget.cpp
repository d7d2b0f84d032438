#include "core/base/job_budget.h"

#include <cstdlib>
#include <unistd.h>

namespace JobBudget {

namespace {

unsigned long long machine()
{
    const long pages = ::sysconf(_SC_PHYS_PAGES), pageSize = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && pageSize > 0 ? (unsigned long long)pages * (unsigned long long)pageSize : 0;
}

}

unsigned long long bytes()
{
    if (const char* given = std::getenv("BRIVLON_JOB_MEMORY"))
        if (const long long mebibytes = std::atoll(given); mebibytes > 0)
            return (unsigned long long)mebibytes << 20;
    return ofMachine(machine());
}

int places() { return places(machine(), bytes()); }

Limits limits() { return limits(bytes()); }

}
