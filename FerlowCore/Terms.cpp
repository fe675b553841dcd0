#include "FerlowCore/Terms.h"

namespace ferlow {

std::int64_t Terms::required(std::optional<std::int64_t> remote)
{
    return remote && *remote > bundled ? *remote : bundled;
}

bool Terms::needsAgreement(std::int64_t accepted, std::optional<std::int64_t> remote)
{
    return accepted < required(remote);
}

} // namespace ferlow
