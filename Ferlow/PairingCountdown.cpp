#include "Ferlow/PairingCountdown.h"

#include <cmath>

#include "FerlowCore/PairingStore.h"

namespace ferlow {

long long PairingCountdown::secondsLeft(double elapsed)
{
    const auto lifetime = static_cast<long long>(PairingStore::pendingLifetime);
    if (elapsed >= PairingStore::pendingLifetime)
        return 0;
    if (!(elapsed > 0))
        return lifetime; // a reading from before the code was shown
    return lifetime - std::llround(elapsed);
}

} // namespace ferlow
