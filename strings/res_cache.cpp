#include "strings/res_cache.h"

#include "strings/res_decode.h"
#include "strings/res_module.h"

std::vector<std::unique_ptr<ResBlock>>& resBlockCache() {
    // Released with the module registries at exit.
    static std::vector<std::unique_ptr<ResBlock>> cache;
    return cache;
}

namespace testing {
void resetStringResources() {
    resBlockCache().clear();
    resetResModules();
}
} // namespace testing
