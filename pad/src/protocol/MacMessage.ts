// What the computer sends once a session is established, decoded from the
// opened JSON. Nothing here is trusted: every field is checked for its type
// before the rest of the pad sees it, and text stays text.

export interface TrackpadPrefs {
    natural: boolean;  // scrolling follows the fingers
    drag3: boolean;    // three-finger drag (three fingers then do not swipe)
    swipeH: number[];  // finger counts that swipe between spaces
    swipeV: number[];  // finger counts that swipe up and down
    mc: boolean;       // swipe up for Mission Control
    expose: boolean;   // swipe down for App Exposé
    lookUp: boolean;   // three-finger tap
    zoom: boolean;     // two-finger double tap
    rotate: boolean;
    pinch: boolean;
    right: boolean;    // two-finger tap for the secondary click
    desktop: boolean;  // four-finger spread
    apps: boolean;     // four-finger pinch
    trackpad: boolean; // read from a real trackpad rather than built in
}

export const defaultPrefs: TrackpadPrefs = {
    natural: true, drag3: false, swipeH: [4], swipeV: [3], mc: true, expose: true, lookUp: true, zoom: true,
    rotate: true, pinch: true, right: true, desktop: true, apps: true, trackpad: false,
};

export interface ActionButton {
    id: string;
    title: string;
    conflict: string | null; // a clash with a system shortcut, to show
    keep: boolean;           // the user keeps it despite the clash: show nothing
    group: string | null;    // the page: "Keys", "Edit", ... or an app's name
}

export interface AppContext {
    name: string;
    actions: ActionButton[];
}

export type UpdateStatus =
    | { s: "ok" }
    | { s: "available"; v: string }
    | { s: "required"; v: string };

export type MacMessage =
    | { t: "ready"; ax: boolean; actions: ActionButton[]; name: string; g: TrackpadPrefs; app: AppContext | null; u: UpdateStatus; txt: boolean }
    | { t: "ax"; ok: boolean }
    | { t: "actions"; actions: ActionButton[] }
    | { t: "prefs"; g: TrackpadPrefs }
    | { t: "ctx"; app: AppContext | null }
    | { t: "update"; u: UpdateStatus }
    | { t: "pong"; ts: number }
    | { t: "replaced" }
    | { t: "revoked" }
    | { t: "untyped"; s: string }; // characters the computer's keyboard layout cannot type

export class DecodeError extends Error {}

type Json = Record<string, unknown>;

function object(value: unknown, what: string): Json {
    if (typeof value !== "object" || value === null || Array.isArray(value))
        throw new DecodeError(`${what}: not an object`);
    return value as Json;
}

function field<T>(json: Json, key: string, type: "string" | "boolean" | "number"): T {
    const value = json[key];
    if (typeof value !== type || (type === "number" && !Number.isFinite(value)))
        throw new DecodeError(`"${key}": not a ${type}`);
    return value as T;
}

function optionalString(json: Json, key: string): string | null {
    const value = json[key];
    return value === undefined || value === null ? null : field<string>(json, key, "string");
}

function list(json: Json, key: string): unknown[] {
    const value = json[key];
    if (!Array.isArray(value))
        throw new DecodeError(`"${key}": not an array`);
    return value;
}

function actionButton(value: unknown): ActionButton {
    const json = object(value, "button");
    object(json.kind, "button kind"); // what a button does is the computer's business
    return {
        id: field(json, "id", "string"),
        title: field(json, "title", "string"),
        conflict: optionalString(json, "conflict"),
        keep: field(json, "keep", "boolean"),
        group: optionalString(json, "group"),
    };
}

const actionList = (json: Json) => list(json, "actions").map(actionButton);

function appContext(json: Json): AppContext | null {
    if (json.app === undefined || json.app === null)
        return null;
    const app = object(json.app, "app");
    return { name: field(app, "name", "string"), actions: actionList(app) };
}

function fingerCounts(json: Json, key: string): number[] {
    return list(json, key).map((n) => {
        if (!Number.isInteger(n))
            throw new DecodeError(`"${key}": not a list of finger counts`);
        return n as number;
    });
}

function prefs(value: unknown): TrackpadPrefs {
    const json = object(value, "prefs");
    const flag = (key: string) => field<boolean>(json, key, "boolean");
    return {
        natural: flag("natural"), drag3: flag("drag3"),
        swipeH: fingerCounts(json, "swipeH"), swipeV: fingerCounts(json, "swipeV"),
        mc: flag("mc"), expose: flag("expose"), lookUp: flag("lookUp"), zoom: flag("zoom"), rotate: flag("rotate"),
        pinch: flag("pinch"), right: flag("right"), desktop: flag("desktop"), apps: flag("apps"), trackpad: flag("trackpad"),
    };
}

// An unknown "s" reads as up to date, as the computer reads it.
function updateStatus(value: unknown): UpdateStatus {
    const json = object(value, "update");
    const s = field<string>(json, "s", "string");
    const v = json.v === undefined ? "" : field<string>(json, "v", "string");
    return s === "available" || s === "required" ? { s, v } : { s: "ok" };
}

// The message in `text`, null for a type this pad does not know (a newer
// computer may send more), or a thrown DecodeError for anything malformed.
export function decodeMac(text: string): MacMessage | null {
    let parsed: unknown;
    try {
        parsed = JSON.parse(text);
    } catch {
        throw new DecodeError("not JSON");
    }
    const json = object(parsed, "message");
    const t = field<string>(json, "t", "string");
    switch (t) {
    case "ready":
        return {
            t, ax: field(json, "ax", "boolean"), actions: actionList(json),
            name: json.name === undefined ? "" : field(json, "name", "string"),
            g: json.g === undefined ? defaultPrefs : prefs(json.g), app: appContext(json),
            u: json.u === undefined ? { s: "ok" } : updateStatus(json.u),
            // Typing is an extension: only a computer that can type says so.
            txt: json.txt === undefined ? false : field(json, "txt", "boolean"),
        };
    case "ax": return { t, ok: field(json, "ok", "boolean") };
    case "actions": return { t, actions: actionList(json) };
    case "prefs": return { t, g: prefs(json.g) };
    case "ctx": return { t, app: appContext(json) };
    case "update": return { t, u: updateStatus(json.u) };
    case "pong": return { t, ts: field(json, "ts", "number") };
    case "replaced":
    case "revoked": return { t };
    case "untyped": return { t, s: field(json, "s", "string") };
    default: return null;
    }
}
