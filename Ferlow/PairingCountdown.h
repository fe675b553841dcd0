#pragma once

namespace ferlow {

// The time a pairing code has left, as the terminal and the pairing window
// count it down on a one-second ticker: 600 seconds when the code is shown,
// one less at each tick, the code still shown at 1 and expired at 0.
struct PairingCountdown {
    // Whole seconds left `elapsed` seconds after the code was shown, never
    // below 0. The elapsed time counts to the nearest whole second: a ticker
    // fires a little after its second (or, with Qt's coarse timers, a little
    // before), and cutting the fraction off would skip a second at the first
    // tick and show the code as expired a second early.
    static long long secondsLeft(double elapsed);
};

} // namespace ferlow
