// Every number a user feels on the pad, in one place. Distances are CSS
// pixels of the phone's screen (about 0.16 mm each), times are milliseconds
// and speeds pixels per millisecond.
export const Tuning = {
    // Taps: a finger (or all fingers of a multi-finger tap) down and up again
    // within this time, no finger wandering further than tapSlop.
    tapDuration: 200,
    multiTapDuration: 300, // fingers never land and lift quite together
    tapSlop: 10,
    // After a one-finger tap the button stays down this long: a touch in that
    // time drags with it, and a second quick tap makes a double click.
    tapDragWindow: 200,
    // With smart zoom on, a two-finger tap waits this long for a second one
    // before it becomes the secondary click.
    smartZoomWindow: 250,
    // Bottom buttons pressed again within this time count as double clicks.
    clickRepeatWindow: 400,

    // A fresh one-finger touch moves the pointer once it has gone this far,
    // so the small wobble of a tap does not move the pointer.
    moveDeadzone: 3,
    // Pointer acceleration: gain slowGain at or below slowSpeed, rising
    // smoothly to fastGain at fastSpeed, like a laptop trackpad.
    slowSpeed: 0.08,
    fastSpeed: 1.8,
    slowGain: 1,
    fastGain: 5,

    // Two fingers: the first of these distances to be passed decides between
    // scrolling (centroid travel), pinching (change of finger distance) and
    // rotating (arc travelled by the fingertips).
    scrollSlop: 10,
    pinchSlop: 16,
    rotateSlop: 20,
    scrollGain: 1.5,
    // Momentum after a scroll: starts above momentumSpeed at lift, decays
    // exponentially with momentumDecay (the time constant of iOS scroll
    // views), and ends below momentumStopSpeed or after momentumLimit.
    momentumSpeed: 0.3,
    momentumStopSpeed: 0.02,
    momentumDecay: 500,
    momentumLimit: 4000,
    frame: 16,
    velocityWindow: 80,

    // Three and four fingers: travel before a swipe (or three-finger drag)
    // starts, change of spread before a four-finger pinch starts, and the
    // distances that make a whole swipe or pinch (progress 1).
    swipeSlop: 12,
    spreadSlop: 20,
    swipeDistance: 250,
    spreadDistance: 120,

    // A contact wider than this is a palm or a cheek, not a finger.
    palmRadius: 30,
    // Five fingers or more are a hand put down, not a gesture.
    maxFingers: 4,
} as const;

// The pointer's gain at a finger speed: smoothstep between the slow and the
// fast gain, so the curve has no kink a user could feel.
export function pointerGain(speed: number): number {
    const x = Math.min(Math.max((speed - Tuning.slowSpeed) / (Tuning.fastSpeed - Tuning.slowSpeed), 0), 1);
    return Tuning.slowGain + (Tuning.fastGain - Tuning.slowGain) * x * x * (3 - 2 * x);
}
