import type { TrackpadPrefs } from "../protocol/MacMessage";
import {
    type DockKind, type PhoneMessage, Momentum as MomentumPhase, Phase,
    button, dock, move, pinch, rotate, scroll, system,
} from "../protocol/PhoneMessage";
import { Momentum, type Point, VelocityTracker, angle, centroid, distance, spread, turn } from "./Motion";
import { Tuning, pointerGain } from "./Tuning";

// Turns touches on the pad's surface into the messages a trackpad would
// send. Pure: touch samples and the time come in, messages go out, and the
// caller asks nextTick() when to call tick() for what happens between
// touches (a tap's delayed release, scroll momentum).

export interface TouchPoint {
    readonly id: number;
    readonly x: number;
    readonly y: number;
    readonly radius?: number;
}

// Every touch on the surface at time t (ms), after any change.
export interface TouchSample {
    readonly t: number;
    readonly touches: readonly TouchPoint[];
}

export type GesturePrefs = Omit<TrackpadPrefs, "trackpad">;

// One touch of the surface, from the first finger down to the last finger up.
interface Contact {
    readonly start: number;
    readonly origins: Map<number, Point>; // where each finger landed
    maxFingers: number;
    moved: boolean;     // a finger went beyond the tap slop
    committed: boolean; // it became a gesture, so it is no tap
    tappable: boolean;  // no bottom button held, not cancelled, not a whole hand
}

interface PointerMotion {
    readonly origin: Point;
    last: Point;
    lastT: number;
    moving: boolean;
    speed: number;
}

interface Pair {
    centre: Point;
    distance: number;
    angle: number;
}

function pairOf(a: Point, b: Point): Pair {
    return { centre: centroid([a, b]), distance: distance(a, b), angle: angle(a, b) };
}

interface TwoFingers {
    name: "twoFinger";
    mode: "undecided" | "scrolling" | "zooming";
    ids: [number, number];
    base: Pair;
    last: Pair;
    begun: boolean;              // scrolling
    pinch: "off" | "waiting" | "open";
    rotate: "off" | "waiting" | "open";
    velocity: VelocityTracker;
}

interface ManyFingers {
    name: "manyFinger";
    mode: "undecided" | "swiping" | "dragging";
    ids: number[];
    base: Point;
    baseSpread: number;
    motion: PointerMotion;   // three-finger drag
    kind: DockKind;          // swipe
    progress: number;
    range: [number, number]; // the progress the computer uses, by the prefs
    begun: boolean;
    velocity: VelocityTracker;
}

type State =
    | { name: "idle" }
    // One finger moves the pointer.
    | { name: "pointing"; finger: number; motion: PointerMotion }
    // One finger after a tap: the tap's button is held and the finger drags.
    | { name: "tapDragging"; finger: number; clicks: number; motion: PointerMotion }
    | TwoFingers
    | ManyFingers
    // Whatever the fingers still on the surface do is ignored until they lift.
    | { name: "done" };

function motionFrom(p: Point, t: number, moving = false): PointerMotion {
    return { origin: p, last: p, lastT: t, moving, speed: 0 };
}

const sameIds = (ids: readonly number[], fingers: Map<number, Point>) =>
    ids.length === fingers.size && ids.every((id) => fingers.has(id));

export class Recogniser {
    private state: State = { name: "idle" };
    private fingers = new Map<number, Point>();
    private readonly palms = new Set<number>();
    private contact: Contact | null = null;
    private pendingRelease: { clicks: number; due: number } | null = null;
    private pendingSecondary: { due: number } | null = null;
    private momentum: Momentum | null = null;
    private readonly held = new Map<number, number>(); // bottom button index → its click count
    private lastPress: { index: number; t: number; clicks: number } | null = null;

    constructor(private prefs: GesturePrefs) {}

    // Takes effect for gestures that start from now on.
    setPrefs(prefs: GesturePrefs): void {
        this.prefs = prefs;
    }

    touch(sample: TouchSample): PhoneMessage[] {
        const out: PhoneMessage[] = [];
        const t = sample.t;
        for (const p of sample.touches)
            if ((p.radius ?? 0) > Tuning.palmRadius)
                this.palms.add(p.id);
        for (const id of this.palms)
            if (!sample.touches.some((p) => p.id === id))
                this.palms.delete(id);
        const before = this.fingers.size;
        this.fingers = new Map(sample.touches.filter((p) => !this.palms.has(p.id)).map((p) => [p.id, { x: p.x, y: p.y }]));

        if (this.fingers.size === 0) {
            if (before > 0)
                this.endContact(t, out);
            return out;
        }
        if (!this.contact) {
            this.beginContact(t, out);
            return out;
        }
        this.updateContact(t);
        this.resolveSecondary(t, out);
        if (this.fingers.size > before)
            this.fingerAdded(t, out);
        else if (this.fingers.size < before)
            this.fingerLifted(t, out);
        else
            this.moved(t, out);
        return out;
    }

    // A bottom button pressed or released.
    press(index: number, down: boolean, t: number): PhoneMessage[] {
        const out: PhoneMessage[] = [];
        const heldClicks = this.held.get(index);
        if (down && heldClicks === undefined) {
            this.releasePending(out);
            const last = this.lastPress;
            const clicks = last && last.index === index && t - last.t <= Tuning.clickRepeatWindow ? last.clicks + 1 : 1;
            this.lastPress = { index, t, clicks };
            this.held.set(index, clicks);
            if (this.contact)
                this.contact.tappable = false;
            out.push(button(index, true, clicks));
        } else if (!down && heldClicks !== undefined) {
            this.held.delete(index);
            out.push(button(index, false, heldClicks));
        }
        return out;
    }

    // What happens between touches: a tap's delayed release, the secondary
    // click a two-finger tap held back, a momentum frame.
    tick(t: number): PhoneMessage[] {
        const out: PhoneMessage[] = [];
        if (this.pendingRelease && !this.contact && t >= this.pendingRelease.due)
            this.releasePending(out);
        if (this.pendingSecondary && !this.contact && t >= this.pendingSecondary.due)
            this.fireSecondary(out);
        if (this.momentum && t >= this.momentum.nextFrame) {
            const frame = this.momentum.frame(t);
            if (frame) {
                const d = this.scrollDelta(frame.delta);
                out.push(scroll(d.x, d.y, null, frame.first ? MomentumPhase.begin : MomentumPhase.continue));
            } else {
                this.stopMomentum(out);
            }
        }
        return out;
    }

    // When tick() has something to do next, or null.
    nextTick(): number | null {
        const times = [this.momentum?.nextFrame];
        if (!this.contact)
            times.push(this.pendingRelease?.due, this.pendingSecondary?.due);
        const due = times.filter((t): t is number => t !== undefined);
        return due.length ? Math.min(...due) : null;
    }

    // Whether a button or a gesture is open on the computer, which ends
    // everything after half a second without a message.
    holding(): boolean {
        const s = this.state;
        return this.pendingRelease !== null || this.held.size > 0 || s.name === "tapDragging"
            || ((s.name === "twoFinger" || s.name === "manyFinger") && s.mode !== "undecided");
    }

    // Ends every open gesture and releases every button; the fingers still
    // down are ignored until they lift. For a hidden page, a lost connection
    // or a touch the browser took back.
    cancel(t: number): PhoneMessage[] {
        const out: PhoneMessage[] = [];
        this.finishGesture(t, out, "cancel");
        this.stopMomentum(out);
        this.releasePending(out);
        this.pendingSecondary = null;
        for (const [index, clicks] of this.held)
            out.push(button(index, false, clicks));
        this.held.clear();
        if (this.contact)
            this.contact.tappable = false;
        this.state = this.contact ? { name: "done" } : { name: "idle" };
        return out;
    }

    private beginContact(t: number, out: PhoneMessage[]): void {
        this.stopMomentum(out); // a finger put down catches the scroll
        this.contact = {
            start: t, origins: new Map(this.fingers), maxFingers: this.fingers.size,
            moved: false, committed: false, tappable: this.held.size === 0,
        };
        this.resolveSecondary(t, out);
        const [id, p] = this.fingers.entries().next().value!;
        if (this.pendingRelease && this.fingers.size === 1) {
            // The touch after a tap: the tap's button stays down.
            this.state = { name: "tapDragging", finger: id, clicks: this.pendingRelease.clicks, motion: motionFrom(p, t) };
            this.pendingRelease = null;
            return;
        }
        this.releasePending(out);
        this.enter(t);
    }

    private updateContact(t: number): void {
        const contact = this.contact!;
        contact.maxFingers = Math.max(contact.maxFingers, this.fingers.size);
        for (const [id, p] of this.fingers) {
            const origin = contact.origins.get(id);
            if (!origin)
                contact.origins.set(id, p);
            else if (distance(origin, p) > Tuning.tapSlop)
                contact.moved = true;
        }
        if (t - contact.start > (contact.maxFingers === 1 ? Tuning.tapDuration : Tuning.multiTapDuration))
            contact.tappable = false;
    }

    // The state for the fingers now down, measured from where they are now.
    private enter(t: number): void {
        const points = [...this.fingers.values()];
        const ids = [...this.fingers.keys()];
        if (points.length === 1) {
            this.state = { name: "pointing", finger: ids[0]!, motion: motionFrom(points[0]!, t) };
        } else if (points.length === 2) {
            const pair = pairOf(points[0]!, points[1]!);
            this.state = {
                name: "twoFinger", mode: "undecided", ids: [ids[0]!, ids[1]!], base: pair, last: pair,
                begun: false, pinch: "off", rotate: "off", velocity: new VelocityTracker(),
            };
        } else if (points.length <= Tuning.maxFingers) {
            const c = centroid(points);
            this.state = {
                name: "manyFinger", mode: "undecided", ids, base: c, baseSpread: spread(points),
                motion: motionFrom(c, t, true), kind: "h", progress: 0, range: [0, 0], begun: false,
                velocity: new VelocityTracker(),
            };
        } else {
            this.contact!.tappable = false; // a whole hand
            this.state = { name: "done" };
        }
    }

    private fingerAdded(t: number, out: PhoneMessage[]): void {
        const s = this.state;
        if (s.name === "pointing") {
            this.enter(t);
        } else if (s.name === "tapDragging") {
            // A second finger soon after the first makes a two-finger touch,
            // not a drag; later ones are ignored while the drag goes on.
            if (!this.contact!.moved && t - this.contact!.start < Tuning.tapDuration) {
                out.push(button(0, false, s.clicks));
                this.enter(t);
            }
        } else if (s.name === "twoFinger" || s.name === "manyFinger") {
            if (s.mode === "undecided") {
                this.enter(t);
            } else {
                this.finishGesture(t, out, "end");
                this.state = { name: "done" };
            }
        }
    }

    private fingerLifted(t: number, out: PhoneMessage[]): void {
        const s = this.state;
        if (s.name === "tapDragging" && this.fingers.has(s.finger))
            return; // an ignored extra finger left
        this.finishGesture(t, out, "lift");
        this.state = { name: "done" };
    }

    private endContact(t: number, out: PhoneMessage[]): void {
        const contact = this.contact!;
        const limit = contact.maxFingers === 1 ? Tuning.tapDuration : Tuning.multiTapDuration;
        const tap = contact.tappable && !contact.moved && !contact.committed && t - contact.start <= limit;
        if (this.pendingSecondary && !(tap && contact.maxFingers === 2))
            this.fireSecondary(out);
        const s = this.state;
        if (s.name === "tapDragging") {
            out.push(button(0, false, s.clicks));
            if (tap) {
                // Another quick tap: the next click of a double or triple click.
                out.push(button(0, true, s.clicks + 1));
                this.pendingRelease = { clicks: s.clicks + 1, due: t + Tuning.tapDragWindow };
            }
        } else {
            this.finishGesture(t, out, "lift");
            if (tap)
                this.tap(contact.maxFingers, t, out);
        }
        this.contact = null;
        this.state = { name: "idle" };
    }

    private tap(fingers: number, t: number, out: PhoneMessage[]): void {
        if (fingers === 1) {
            // The press goes out at once; the release waits for a possible drag.
            out.push(button(0, true, 1));
            this.pendingRelease = { clicks: 1, due: t + Tuning.tapDragWindow };
        } else if (fingers === 2) {
            if (this.pendingSecondary) {
                this.pendingSecondary = null;
                out.push({ t: "sz" });
            } else if (this.prefs.zoom) {
                this.pendingSecondary = { due: t + Tuning.smartZoomWindow };
            } else if (this.prefs.right) {
                out.push(button(1, true, 1), button(1, false, 1));
            }
        } else if (fingers === 3 && this.prefs.lookUp) {
            out.push(system("lookUp"));
        }
    }

    // A two-finger tap waiting for a second one becomes the secondary click
    // as soon as the touch in progress can no longer be that second tap.
    private resolveSecondary(t: number, out: PhoneMessage[]): void {
        const c = this.contact;
        if (this.pendingSecondary && c && !(c.maxFingers <= 2 && !c.moved && !c.committed && c.tappable))
            this.fireSecondary(out);
    }

    private fireSecondary(out: PhoneMessage[]): void {
        this.pendingSecondary = null;
        if (this.prefs.right)
            out.push(button(1, true, 1), button(1, false, 1));
    }

    private releasePending(out: PhoneMessage[]): void {
        if (this.pendingRelease)
            out.push(button(0, false, this.pendingRelease.clicks));
        this.pendingRelease = null;
    }

    private stopMomentum(out: PhoneMessage[]): void {
        if (this.momentum)
            out.push(scroll(0, 0, null, MomentumPhase.end));
        this.momentum = null;
    }

    private moved(t: number, out: PhoneMessage[]): void {
        const s = this.state;
        if (s.name === "pointing" || s.name === "tapDragging") {
            const p = this.fingers.get(s.finger);
            if (p)
                this.movePointer(s.motion, p, t, out);
        } else if (s.name === "twoFinger") {
            this.twoFingers(s, t, out);
        } else if (s.name === "manyFinger") {
            this.manyFingers(s, t, out);
        }
    }

    private movePointer(motion: PointerMotion, p: Point, t: number, out: PhoneMessage[]): void {
        if (!motion.moving) {
            if (distance(p, motion.origin) <= Tuning.moveDeadzone)
                return;
            motion.moving = true;
        }
        const dx = p.x - motion.last.x, dy = p.y - motion.last.y;
        if (dx === 0 && dy === 0)
            return; // another finger moved
        const speed = Math.hypot(dx, dy) / Math.max(t - motion.lastT, 8);
        // Averaged with the last sample's, as touch events come unevenly.
        motion.speed = motion.speed === 0 ? speed : (motion.speed + speed) / 2;
        const gain = pointerGain(motion.speed);
        motion.last = p;
        motion.lastT = t;
        out.push(move(dx * gain, dy * gain));
    }

    private scrollDelta(d: Point): Point {
        const k = (this.prefs.natural ? 1 : -1) * Tuning.scrollGain;
        return { x: d.x * k, y: d.y * k };
    }

    private twoFingers(s: TwoFingers, t: number, out: PhoneMessage[]): void {
        const a = this.fingers.get(s.ids[0]), b = this.fingers.get(s.ids[1]);
        if (!a || !b) { // one finger left as another came
            this.finishGesture(t, out, "end");
            this.state = { name: "done" };
            return;
        }
        const now = pairOf(a, b);
        const scrollScore = distance(now.centre, s.base.centre) / Tuning.scrollSlop;
        const pinchScore = Math.abs(now.distance - s.base.distance) / Tuning.pinchSlop;
        const arc = (Math.abs(turn(s.base.angle, now.angle)) * Math.PI / 180) * (now.distance / 2);
        const rotateScore = arc / Tuning.rotateSlop;
        if (s.mode === "undecided") {
            const zoomScore = Math.max(this.prefs.pinch ? pinchScore : 0, this.prefs.rotate ? rotateScore : 0);
            if (Math.max(scrollScore, zoomScore) < 1)
                return;
            this.contact!.committed = true;
            if (scrollScore >= zoomScore) {
                s.mode = "scrolling";
            } else {
                s.mode = "zooming";
                s.pinch = this.prefs.pinch ? "waiting" : "off";
                s.rotate = this.prefs.rotate ? "waiting" : "off";
            }
        }
        if (s.mode === "scrolling") {
            const d = this.scrollDelta({ x: now.centre.x - s.last.centre.x, y: now.centre.y - s.last.centre.y });
            out.push(scroll(d.x, d.y, s.begun ? Phase.changed : Phase.began, MomentumPhase.none));
            s.begun = true;
            s.velocity.add(t, now.centre);
        } else {
            // Each starts once the fingers have done enough of it, so a pinch
            // does not turn the page a little too.
            if (s.pinch !== "off" && (s.pinch === "open" || pinchScore >= 1)) {
                out.push(pinch(now.distance / s.last.distance - 1, s.pinch === "open" ? Phase.changed : Phase.began));
                s.pinch = "open";
            }
            if (s.rotate !== "off" && (s.rotate === "open" || rotateScore >= 1)) {
                // Counter-clockwise is positive; screen angles run clockwise.
                out.push(rotate(-turn(s.last.angle, now.angle), s.rotate === "open" ? Phase.changed : Phase.began));
                s.rotate = "open";
            }
        }
        s.last = now;
    }

    private manyFingers(s: ManyFingers, t: number, out: PhoneMessage[]): void {
        if (!sameIds(s.ids, this.fingers)) {
            this.finishGesture(t, out, "end");
            this.state = { name: "done" };
            return;
        }
        const points = [...this.fingers.values()];
        const c = centroid(points);
        const spreadNow = spread(points);
        if (s.mode === "undecided" && !this.startMany(s, c, spreadNow, out))
            return;
        if (s.mode === "dragging") {
            this.movePointer(s.motion, c, t, out);
            return;
        }
        const raw = s.kind === "p" ? (spreadNow - s.baseSpread) / Tuning.spreadDistance
            : s.kind === "h" ? (s.base.x - c.x) / Tuning.swipeDistance
            : (s.base.y - c.y) / Tuning.swipeDistance;
        s.progress = Math.min(Math.max(raw, s.range[0]), s.range[1]);
        s.velocity.add(t, { x: s.progress, y: 0 });
        out.push(dock(s.kind, s.progress, s.begun ? Phase.changed : Phase.began, 0));
        s.begun = true;
    }

    // Decides what three or four fingers do once they have moved far enough:
    // a three-finger drag, a four-finger pinch, a swipe the computer uses, or
    // nothing at all.
    private startMany(s: ManyFingers, c: Point, spreadNow: number, out: PhoneMessage[]): boolean {
        const p = this.prefs;
        const travel = { x: c.x - s.base.x, y: c.y - s.base.y };
        const swipeScore = Math.hypot(travel.x, travel.y) / Tuning.swipeSlop;
        const spreadScore = s.ids.length === 4 && (p.desktop || p.apps)
            ? Math.abs(spreadNow - s.baseSpread) / Tuning.spreadSlop : 0;
        if (Math.max(swipeScore, spreadScore) < 1)
            return false;
        this.contact!.committed = true;
        if (s.ids.length === 3 && p.drag3) {
            s.mode = "dragging";
            out.push(button(0, true, 1));
            return true;
        }
        let direction: number;
        if (spreadScore > swipeScore) {
            s.kind = "p";
            s.range = [p.apps ? -1 : 0, p.desktop ? 1 : 0];
            direction = spreadNow - s.baseSpread;
        } else if (Math.abs(travel.x) >= Math.abs(travel.y)) {
            s.kind = "h";
            s.range = p.swipeH.includes(s.ids.length) ? [-1, 1] : [0, 0];
            direction = -travel.x; // fingers to the left bring the space on the right
        } else {
            s.kind = "v";
            s.range = p.swipeV.includes(s.ids.length) ? [p.expose ? -1 : 0, p.mc ? 1 : 0] : [0, 0];
            direction = -travel.y; // up is Mission Control, down App Exposé
        }
        if ((direction > 0 ? s.range[1] : s.range[0]) === 0) {
            this.state = { name: "done" }; // a gesture the computer has turned off
            return false;
        }
        s.mode = "swiping";
        return true;
    }

    // Ends the gesture in progress. A lift may leave scroll momentum; a
    // cancel ends a swipe as cancelled.
    private finishGesture(t: number, out: PhoneMessage[], how: "lift" | "end" | "cancel"): void {
        const s = this.state;
        if (s.name === "tapDragging") {
            out.push(button(0, false, s.clicks));
        } else if (s.name === "twoFinger" && s.mode === "scrolling") {
            out.push(scroll(0, 0, Phase.ended, MomentumPhase.none));
            const v = s.velocity.velocity(t);
            if (how === "lift" && Momentum.worthStarting(v))
                this.momentum = new Momentum(v, t);
        } else if (s.name === "twoFinger" && s.mode === "zooming") {
            if (s.pinch === "open")
                out.push(pinch(0, Phase.ended));
            if (s.rotate === "open")
                out.push(rotate(0, Phase.ended));
        } else if (s.name === "manyFinger" && s.mode === "dragging") {
            out.push(button(0, false, 1));
        } else if (s.name === "manyFinger" && s.mode === "swiping") {
            out.push(how === "cancel" ? dock(s.kind, s.progress, Phase.cancelled, 0)
                : dock(s.kind, s.progress, Phase.ended, s.velocity.velocity(t).x * 1000));
        }
    }
}
