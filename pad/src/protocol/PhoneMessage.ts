// What the pad sends once a session is established: one JSON object per
// sealed frame, written with the computer's short keys. Every message also
// carries "ts", the pad's clock in milliseconds when it was produced, which
// the computer paces its playback by.

// Gesture phases are bit values on the wire.
export const Phase = { began: 1, changed: 2, ended: 4, cancelled: 8 } as const;
export type Phase = (typeof Phase)[keyof typeof Phase];

export const Momentum = { none: 0, begin: 1, continue: 2, end: 3 } as const;
export type Momentum = (typeof Momentum)[keyof typeof Momentum];

// Which system swipe a dock gesture drives: horizontal (spaces), vertical
// (Mission Control, App Exposé) or a four-finger pinch (desktop, apps).
export type DockKind = "h" | "v" | "p";

// The key pressed after typed text.
export type TypedKey = "ret" | "tab";

export type SystemGesture =
    | "missionControl" | "appExpose" | "showDesktop" | "apps" | "lookUp" | "spaceLeft" | "spaceRight";

export type PhoneMessage =
    | { t: "m"; x: number; y: number }                          // pointer move, in points
    | { t: "b"; b: number; d: boolean; c: number }              // mouse button 0, 1, 2; down; click count
    | { t: "s"; x: number; y: number; p?: Phase; mp: Momentum } // scroll; positive y scrolls up
    | { t: "z"; v: number; p: Phase }                           // magnification step
    | { t: "r"; v: number; p: Phase }                           // rotation step in degrees, counter-clockwise
    | { t: "d"; k: DockKind; v: number; p: Phase; vel: number } // dock swipe progress and speed per second
    | { t: "sys"; n: SystemGesture }
    | { t: "a"; id: string; d: boolean }                        // action button pressed or released
    | { t: "hi"; dev: string; sa: boolean }                     // the first sealed message
    | { t: "p"; ts: number }                                    // ping; answered by a pong
    | { t: "sz" }                                               // smart zoom
    | { t: "forget" }                                           // remove this phone's pairing
    // Typing, only to a computer whose "ready" said "txt": delete `del`
    // characters, type `s` (no control characters, at most 256), press `k`.
    | { t: "w"; s: string; del: number; k?: TypedKey };

export const move = (x: number, y: number): PhoneMessage => ({ t: "m", x, y });
export const button = (index: number, down: boolean, clicks: number): PhoneMessage =>
    ({ t: "b", b: index, d: down, c: clicks });
export const scroll = (x: number, y: number, phase: Phase | null, mp: Momentum): PhoneMessage =>
    phase === null ? { t: "s", x, y, mp } : { t: "s", x, y, p: phase, mp };
export const pinch = (v: number, p: Phase): PhoneMessage => ({ t: "z", v, p });
export const rotate = (v: number, p: Phase): PhoneMessage => ({ t: "r", v, p });
export const dock = (k: DockKind, v: number, p: Phase, vel: number): PhoneMessage => ({ t: "d", k, v, p, vel });
export const system = (n: SystemGesture): PhoneMessage => ({ t: "sys", n });
export const action = (id: string, down: boolean): PhoneMessage => ({ t: "a", id, d: down });
export const typed = (s: string, del: number, k: TypedKey | null = null): PhoneMessage =>
    k === null ? { t: "w", s, del } : { t: "w", s, del, k };

const encoder = new TextEncoder();

// Four decimals are far below what a pointer or a zoom can show, and keep
// frames short.
function tidy(value: number): number {
    return Math.round(value * 1e4) / 1e4;
}

// The UTF-8 JSON of `message` stamped with `ts`, or null when a number is not
// finite: JSON has no NaN or infinity, and the computer ends a session whose
// message does not decode.
export function encodePhone(message: PhoneMessage, ts: number): Uint8Array | null {
    const object: Record<string, unknown> = { ...message };
    if (message.t !== "p")
        object.ts = ts;
    for (const [key, value] of Object.entries(object)) {
        if (typeof value !== "number")
            continue;
        if (!Number.isFinite(value))
            return null;
        object[key] = tidy(value);
    }
    return encoder.encode(JSON.stringify(object));
}
