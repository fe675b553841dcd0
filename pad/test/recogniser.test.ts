import assert from "node:assert/strict";
import { test } from "node:test";
import { type GesturePrefs, Recogniser } from "../src/gesture/Recogniser";
import { defaultPrefs } from "../src/protocol/MacMessage";
import type { PhoneMessage } from "../src/protocol/PhoneMessage";

// Touches by id: [x, y] or [x, y, radius].
type Touches = Record<number, readonly number[]>;

// Plays recorded touch sequences into a recogniser on a hand-driven clock.
class Pad {
    readonly r: Recogniser;
    private out: PhoneMessage[] = [];
    t = 0;

    constructor(prefs: Partial<GesturePrefs> = {}) {
        this.r = new Recogniser({ ...defaultPrefs, ...prefs });
    }

    at(t: number, touches: Touches): this {
        this.t = t;
        const points = Object.entries(touches).map(([id, [x, y, radius]]) => ({ id: Number(id), x: x!, y: y!, radius: radius ?? 1 }));
        this.out.push(...this.r.touch({ t, touches: points }));
        return this;
    }

    // Every finger moves in a straight line from `from` to `to` over `ms`, one sample a frame.
    slide(from: Touches, to: Touches, ms: number): this {
        const start = this.t;
        for (let step = 1, steps = Math.max(1, Math.round(ms / 16)); step <= steps; step++) {
            const k = step / steps;
            const touches: Touches = {};
            for (const id of Object.keys(from))
                touches[Number(id)] = from[Number(id)]!.map((v, i) => v + (to[Number(id)]![i]! - v) * k);
            this.at(start + (ms * step) / steps, touches);
        }
        return this;
    }

    tick(t: number): this {
        this.t = t;
        this.out.push(...this.r.tick(t));
        return this;
    }

    // Runs every timed step until nothing is left to do.
    settle(): this {
        for (let next = this.r.nextTick(), n = 0; next !== null && n < 1000; next = this.r.nextTick(), n++)
            this.tick(next);
        return this;
    }

    take(): PhoneMessage[] {
        return this.out.splice(0);
    }
}

const down = (c: number) => ({ t: "b", b: 0, d: true, c });
const up = (c: number) => ({ t: "b", b: 0, d: false, c });
const secondary = [{ t: "b", b: 1, d: true, c: 1 }, { t: "b", b: 1, d: false, c: 1 }];
const sum = (messages: PhoneMessage[], key: "x" | "y" | "v") =>
    messages.reduce((total, m) => total + ((m as Record<string, unknown>)[key] as number ?? 0), 0);
const only = <T extends PhoneMessage["t"]>(messages: PhoneMessage[], t: T) =>
    messages.filter((m): m is Extract<PhoneMessage, { t: T }> => m.t === t);

// A touch after a tap drags: the browser test shows that, resting finger and all.
test("a tap clicks at once and lets go after the drag window; a second tap double-clicks; a long or sliding press does not", () => {
    const pad = new Pad();
    pad.at(0, { 1: [100, 100] }).at(80, {});
    assert.deepEqual(pad.take(), [down(1)]);
    assert.deepEqual(pad.tick(279).take(), []);
    assert.deepEqual(pad.tick(280).take(), [up(1)]);

    pad.at(1000, { 1: [100, 100] }).at(1070, {}).at(1200, { 1: [104, 101] }).at(1260, {});
    assert.deepEqual(pad.take(), [down(1), up(1), down(2)]);
    assert.deepEqual(pad.settle().take(), [up(2)]);

    pad.at(4000, { 1: [100, 100] }).at(4400, {}); // a long press
    pad.at(5000, { 1: [100, 100] }).slide({ 1: [100, 100] }, { 1: [112, 100] }, 100).at(5120, {}); // slid too far
    assert.deepEqual(only(pad.settle().take(), "b"), []);
});

test("the pointer ignores a tap's wobble, is exact when slow and accelerated when fast", () => {
    const wobble = new Pad().at(0, { 1: [50, 50] }).slide({ 1: [50, 50] }, { 1: [52, 51] }, 300).at(320, {});
    assert.deepEqual(wobble.take(), []);

    const slow = new Pad().at(0, { 1: [50, 50] }).slide({ 1: [50, 50] }, { 1: [150, 50] }, 2000).take();
    assert.ok(Math.abs(sum(slow, "x") - 100) < 1e-9 && sum(slow, "y") === 0, `slow: ${sum(slow, "x")}`);

    const fast = new Pad().at(0, { 1: [50, 50] }).slide({ 1: [50, 50] }, { 1: [250, 50] }, 96).take();
    assert.ok(sum(fast, "x") > 4 * 200, `fast: ${sum(fast, "x")}`);
});

test("two fingers scroll with phases, in the computer's direction, then glide with momentum until caught", () => {
    const fingers = (dy: number): Touches => ({ 1: [100, 300 + dy], 2: [160, 300 + dy] });
    for (const natural of [true, false]) {
        const pad = new Pad({ natural }).at(0, fingers(0));
        pad.slide(fingers(0), fingers(-150), 160).at(176, {});
        // The phases of both are the browser test's.
        assert.equal(Math.sign(sum(only(pad.take(), "s"), "y")), natural ? -1 : 1, "natural scrolling follows the fingers");
        const glide = only(pad.settle().take(), "s");
        const steps = glide.slice(0, -1).map((m) => Math.abs(m.y));
        assert.ok(steps.every((s, i) => i === 0 || s < steps[i - 1]!), "momentum slows down");
        assert.equal(Math.sign(sum(glide, "y")), natural ? -1 : 1);
    }

    const caught = new Pad().at(0, fingers(0)).slide(fingers(0), fingers(-150), 160).at(176, {});
    caught.tick(192).tick(208).take();
    assert.deepEqual(caught.at(220, { 1: [10, 10] }).take(), [{ t: "s", x: 0, y: 0, mp: 3 }]);
    assert.equal(caught.r.nextTick(), null);

    const stopped = new Pad().at(0, fingers(0)).slide(fingers(0), fingers(-150), 160);
    stopped.at(400, fingers(-150)).at(420, {});
    assert.equal(stopped.r.nextTick(), null, "fingers that stopped before lifting leave no momentum");
});

test("taps of two and three fingers follow the computer's settings", () => {
    const twoTap = (pad: Pad, t: number) => pad.at(t, { 1: [100, 100] }).at(t + 20, { 1: [100, 100], 2: [150, 100] })
        .at(t + 90, { 2: [150, 100] }).at(t + 110, {});
    const cases: [string, Partial<GesturePrefs>, (pad: Pad) => void, unknown[]][] = [
        ["secondary click waits for a possible smart zoom", {}, (p) => twoTap(p, 0).tick(359), []],
        ["then clicks", {}, (p) => twoTap(p, 0).tick(360), secondary],
        ["a second two-finger tap zooms instead", {}, (p) => twoTap(twoTap(p, 0), 250).settle(), [{ t: "sz" }]],
        ["without smart zoom the click is at once", { zoom: false }, (p) => twoTap(p, 0), secondary],
        ["nothing with both off", { zoom: false, right: false }, (p) => twoTap(p, 0).settle(), []],
        ["a one-finger touch after it lets the click go first", {}, (p) => twoTap(p, 0).at(200, { 1: [0, 0] })
            .slide({ 1: [0, 0] }, { 1: [40, 0] }, 48), [...secondary, { t: "m" }, { t: "m" }, { t: "m" }]],
        ["three fingers look up", {}, (p) => p.at(0, { 1: [0, 0], 2: [50, 0], 3: [100, 0] }).at(150, {}),
            [{ t: "sys", n: "lookUp" }]],
        ["unless that is off", { lookUp: false }, (p) => p.at(0, { 1: [0, 0], 2: [50, 0], 3: [100, 0] }).at(150, {}), []],
    ];
    for (const [name, prefs, play, expected] of cases) {
        const pad = new Pad(prefs);
        play(pad);
        const got = pad.take().map((m) => (m.t === "m" ? { t: "m" } : m));
        assert.deepEqual(got, expected, name);
    }
});

test("pinch and rotate report steps that add up to the fingers' change", () => {
    const spread = new Pad().at(0, { 1: [150, 300], 2: [250, 300] });
    spread.slide({ 1: [150, 300], 2: [250, 300] }, { 1: [100, 300], 2: [300, 300] }, 200).at(220, {});
    const zoom = spread.take();
    const z = only(zoom, "z");
    assert.equal(z[0]!.p, 1);
    assert.deepEqual(z[z.length - 1], { t: "z", v: 0, p: 4 });
    assert.ok(Math.abs(z.reduce((k, m) => k * (1 + m.v), 1) - 2) < 1e-9, "the steps multiply to the spread");
    assert.equal(only(zoom, "r").length, 0, "no turn while spreading");

    const at = (deg: number): Touches => {
        const a = (deg * Math.PI) / 180;
        return { 1: [200 - 60 * Math.cos(a), 300 - 60 * Math.sin(a)], 2: [200 + 60 * Math.cos(a), 300 + 60 * Math.sin(a)] };
    };
    const turn = new Pad().at(0, at(0)).slide(at(0), at(60), 200).at(220, {}).take();
    assert.equal(only(turn, "z").length, 0, "no zoom while turning");
    const r = only(turn, "r");
    assert.deepEqual([r[0]!.p, r[r.length - 1]!.p], [1, 4]);
    assert.ok(sum(r, "v") < -45 && sum(r, "v") > -60, `clockwise on screen is negative: ${sum(r, "v")}`);

    const off = new Pad({ pinch: false, rotate: false }).at(0, at(0)).slide(at(0), at(60), 200).at(220, {});
    assert.deepEqual(off.take(), []);
});

test("three- and four-finger swipes and pinches drive what the computer has turned on", () => {
    const hand = (n: number, dx: number, dy: number, scale = 1): Touches => Object.fromEntries(
        [[-80, -10], [-20, -30], [40, -20], [60, 60]].slice(0, n).map(([x, y], i) => [i + 1, [200 + x! * scale + dx, 300 + y! * scale + dy]]));
    const swipe = (prefs: Partial<GesturePrefs>, n: number, dx: number, dy: number, scale = 1) => {
        const pad = new Pad(prefs).at(0, hand(n, 0, 0));
        return pad.slide(hand(n, 0, 0), hand(n, dx, dy, scale), 160).at(180, {}).take();
    };
    const cases: [string, PhoneMessage[], string | null, number][] = [
        ["four to the left: next space", swipe({}, 4, -150, 0), "h", 0.6],
        ["three up: Mission Control", swipe({}, 3, 0, -100), "v", 0.4],
        ["three down: App Exposé", swipe({}, 3, 0, 100), "v", -0.4],
        ["three down with App Exposé off", swipe({ expose: false }, 3, 0, 100), null, 0],
        ["three sideways while only four switch spaces", swipe({}, 3, -150, 0), null, 0],
        ["four spread: desktop", swipe({}, 4, 0, 0, 2.2), "p", 0.62],
        ["four pinched: apps", swipe({}, 4, 0, 0, 0.3), "p", -0.36],
        ["four spread with the desktop gesture off", swipe({ desktop: false }, 4, 0, 0, 2.2), null, 0],
    ];
    for (const [name, messages, kind, progress] of cases) {
        const d = only(messages, "d");
        if (kind === null) {
            assert.deepEqual(messages, [], name);
            continue;
        }
        assert.ok(d.every((m) => m.k === kind), name);
        assert.deepEqual(d.map((m) => m.p), [1, ...Array(d.length - 2).fill(2), 4], name);
        const end = d[d.length - 1]!;
        assert.ok(Math.abs(end.v - progress) < 0.06, `${name}: progress ${end.v}`);
        assert.equal(Math.sign(end.vel), Math.sign(progress), `${name}: velocity`);
    }

    const drag = swipe({ drag3: true }, 3, 100, 0);
    assert.deepEqual([drag[0], drag[drag.length - 1]], [down(1), up(1)]);
    assert.ok(drag.slice(1, -1).every((m) => m.t === "m") && sum(drag, "x") >= 100, "three-finger drag");
});

test("palms, a whole hand and a held bottom button make no clicks", () => {
    const palm = new Pad().at(0, { 9: [300, 500, 45] }).at(10, { 9: [300, 500, 45], 1: [50, 50] });
    palm.slide({ 9: [300, 500, 45], 1: [50, 50] }, { 9: [310, 490, 45], 1: [100, 50] }, 800);
    const moves = palm.take();
    assert.ok(moves.every((m) => m.t === "m") && Math.abs(sum(moves, "x") - 50) < 1e-9, "the palm is ignored");
    palm.at(900, { 1: [100, 50] }).at(950, {}).at(1000, { 9: [300, 500, 45] }).at(1050, {});
    assert.deepEqual(palm.settle().take(), [], "a palm's tap is no click");

    const hand = new Pad().at(0, { 1: [0, 0], 2: [40, 0], 3: [80, 0], 4: [120, 0], 5: [160, 0] });
    hand.slide({ 1: [0, 0], 2: [40, 0], 3: [80, 0], 4: [120, 0], 5: [160, 0] },
        { 1: [0, 90], 2: [40, 90], 3: [80, 90], 4: [120, 90], 5: [160, 90] }, 100).at(120, {});
    assert.deepEqual(hand.settle().take(), []);

    const held = new Pad();
    const out = [...held.r.press(0, true, 0), ...held.r.press(0, false, 100), ...held.r.press(0, true, 300)];
    held.at(350, { 1: [50, 50] }).at(400, {});
    out.push(...held.settle().take(), ...held.r.press(0, false, 500));
    assert.deepEqual(out, [down(1), up(1), down(2), up(2)]);
});

test("a cancel ends what is open and ignores the fingers left", () => {
    const fingers = (dy: number): Touches => ({ 1: [100, 300 + dy], 2: [160, 300 + dy] });
    const cases: [string, (pad: Pad) => void, PhoneMessage[]][] = [
        ["tap-drag", (p) => p.at(0, { 1: [0, 0] }).at(50, {}).at(100, { 1: [0, 0] }).slide({ 1: [0, 0] }, { 1: [30, 0] }, 64), [up(1) as PhoneMessage]],
        ["scroll", (p) => p.at(0, fingers(0)).slide(fingers(0), fingers(-150), 160), [{ t: "s", x: 0, y: 0, p: 4, mp: 0 }]],
        ["swipe", (p) => p.at(0, { 1: [0, 0], 2: [50, 0], 3: [100, 0], 4: [150, 0] })
            .slide({ 1: [0, 0], 2: [50, 0], 3: [100, 0], 4: [150, 0] }, { 1: [-100, 0], 2: [-50, 0], 3: [0, 0], 4: [50, 0] }, 96),
        [{ t: "d", k: "h", v: 0.4, p: 8, vel: 0 }]],
    ];
    for (const [name, play, expected] of cases) {
        const pad = new Pad();
        play(pad);
        pad.take();
        assert.deepEqual(pad.r.cancel(pad.t + 10), expected, name);
        pad.slide({ 1: [0, 0] }, { 1: [90, 0] }, 100).at(pad.t + 10, {});
        assert.deepEqual(pad.settle().take(), [], `${name}: the rest is ignored`);
        assert.equal(pad.r.holding(), false, name);
    }
});
