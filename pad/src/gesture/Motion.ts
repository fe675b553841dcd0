import { Tuning } from "./Tuning";

export interface Point {
    readonly x: number;
    readonly y: number;
}

export const distance = (a: Point, b: Point) => Math.hypot(a.x - b.x, a.y - b.y);

export function centroid(points: readonly Point[]): Point {
    let x = 0, y = 0;
    for (const p of points) {
        x += p.x;
        y += p.y;
    }
    return { x: x / points.length, y: y / points.length };
}

// Mean distance of the points from their centroid: how spread the hand is.
export function spread(points: readonly Point[]): number {
    const c = centroid(points);
    return points.reduce((sum, p) => sum + distance(p, c), 0) / points.length;
}

// Angle of the line from a to b in degrees, clockwise on screen.
export const angle = (a: Point, b: Point) => (Math.atan2(b.y - a.y, b.x - a.x) * 180) / Math.PI;

// The change from one angle to another, the short way round.
export const turn = (from: number, to: number) => ((to - from + 540) % 360) - 180;

// Velocity of a position over the last few samples. A finger that stopped
// before lifting has no velocity: touch events stop when the finger does.
export class VelocityTracker {
    private samples: { t: number; p: Point }[] = [];

    add(t: number, p: Point): void {
        this.samples.push({ t, p });
        while (this.samples.length > 2 && this.samples[0]!.t < t - Tuning.velocityWindow)
            this.samples.shift();
    }

    velocity(now: number): Point {
        const recent = this.samples.filter((s) => s.t >= now - Tuning.velocityWindow);
        const first = recent[0], last = recent[recent.length - 1];
        if (!first || !last || last.t - first.t < 1)
            return { x: 0, y: 0 };
        const dt = last.t - first.t;
        return { x: (last.p.x - first.p.x) / dt, y: (last.p.y - first.p.y) / dt };
    }
}

// Scroll momentum after the fingers lift: the speed decays exponentially, so
// the distance travelled by time e is v0·τ·(1 − e^(−e/τ)). Frames are taken
// from that curve rather than stepped, so late frames do not change the total.
export class Momentum {
    private travelled: Point = { x: 0, y: 0 };
    private frames = 0;
    private last: number;

    constructor(private readonly v0: Point, private readonly start: number) {
        this.last = start;
    }

    static worthStarting(v: Point): boolean {
        return Math.hypot(v.x, v.y) >= Tuning.momentumSpeed;
    }

    get nextFrame(): number {
        return this.last + Tuning.frame;
    }

    // The distance to move in the frame ending at `now`, or null when the
    // momentum has died out.
    frame(now: number): { delta: Point; first: boolean } | null {
        const elapsed = now - this.start;
        const tau = Tuning.momentumDecay;
        const speed = Math.hypot(this.v0.x, this.v0.y) * Math.exp(-elapsed / tau);
        if (speed < Tuning.momentumStopSpeed || elapsed > Tuning.momentumLimit)
            return null;
        const reach = tau * (1 - Math.exp(-elapsed / tau));
        const at = { x: this.v0.x * reach, y: this.v0.y * reach };
        const delta = { x: at.x - this.travelled.x, y: at.y - this.travelled.y };
        this.travelled = at;
        this.last = now;
        return { delta, first: this.frames++ === 0 };
    }
}
