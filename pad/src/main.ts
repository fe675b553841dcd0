import { Connection, type ConnectionStatus } from "./connection/Connection";
import { deviceName } from "./connection/DeviceName";
import { PairingStorage } from "./connection/PairingStorage";
import { Recogniser } from "./gesture/Recogniser";
import { type ActionButton, type AppContext, type MacMessage, type UpdateStatus, defaultPrefs } from "./protocol/MacMessage";
import { type Pairing, pairingFragment } from "./protocol/Pairing";
import { type PhoneMessage, action } from "./protocol/PhoneMessage";
import { type FieldChange, TypingField, shown } from "./typing/TypingField";
import { sheetPages } from "./view/ActionSheet";
import { PadView, type Quality } from "./view/PadView";
import { Texts } from "./view/Texts";

// Wires the pad together: the view feeds the recogniser, the recogniser's
// messages go out through the connection, and what the computer says comes
// back to the view.

const clock = () => performance.now();

function localStorageOrNull(): Storage | null {
    try {
        return window.localStorage;
    } catch {
        return null; // storage refused outright, as some private modes do
    }
}

const storage = new PairingStorage(localStorageOrNull(), {
    get hash() {
        return location.hash;
    },
    replaceHash(hash: string) {
        history.replaceState(null, "", hash ? `#${hash}` : location.pathname + location.search);
    },
});

const recogniser = new Recogniser(defaultPrefs);
const typing = new TypingField();
let connection: Connection | null = null;
let pairing: Pairing | null = null;
let actions: ActionButton[] = [];
let app: AppContext | null = null;
let tickTimer: ReturnType<typeof setTimeout> | undefined;

function deliver(messages: PhoneMessage[], t: number): void {
    if (messages.length)
        connection?.send(messages, t);
    clearTimeout(tickTimer);
    const next = recogniser.nextTick();
    if (next !== null)
        tickTimer = setTimeout(() => {
            const now = clock();
            deliver(recogniser.tick(now), now);
        }, Math.max(0, next - clock()));
}

// Typed text goes out at once, and the pad shows what went.
function sendTyping(change: FieldChange): void {
    if (change.value !== null)
        view.setTypingValue(change.value);
    if (!change.messages.length)
        return;
    connection?.send(change.messages, clock());
    view.showTyped(shown(change.messages));
}

const currentDeviceName = () => storage.deviceName ?? deviceName(navigator.userAgent, navigator.maxTouchPoints);

const view = new PadView({
    touch: (sample) => deliver(recogniser.touch(sample), sample.t),
    touchCancelled: (t) => deliver(recogniser.cancel(t), t),
    clickButton: (index, down, t) => deliver(recogniser.press(index, down, t), t),
    action: (id, down) => deliver([action(id, down)], clock()),
    useThisPhone: () => connection?.start(),
    rename(name) {
        storage.deviceName = name;
        view.setDeviceName(name);
        connection?.start(); // the computer learns the name from the greeting
    },
    forget() {
        if (connection?.current.kind === "ready")
            connection.send([{ t: "forget" }], clock()); // answered by "revoked"
        else
            unpaired();
    },
    keyboard(open) {
        if (open)
            view.setTypingValue(typing.reset());
        else
            view.showUntyped(null);
    },
    beforeTyping(inputType) {
        const answer = typing.beforeInput(inputType);
        sendTyping(answer);
        return answer.cancel;
    },
    typed: (value, composing) => sendTyping(typing.changed(value, composing)),
    composition(started, value) {
        if (started)
            typing.compositionStarted();
        else
            sendTyping(typing.compositionEnded(value));
    },
});

function updateText(u: UpdateStatus): string | null {
    return u.s === "available" ? Texts.updateAvailable(u.v) : u.s === "required" ? Texts.updateRequired(u.v) : null;
}

function received(message: MacMessage): void {
    switch (message.t) {
    case "ready":
        view.setComputerName(message.name);
        view.setAllowed(message.ax);
        recogniser.setPrefs(message.g);
        ({ actions, app } = message);
        view.setPages(sheetPages(actions, app));
        view.setUpdate(updateText(message.u), message.u.s === "required");
        view.setTypingAvailable(message.txt);
        break;
    case "ax":
        view.setAllowed(message.ok);
        break;
    case "actions":
        actions = message.actions;
        view.setPages(sheetPages(actions, app));
        break;
    case "ctx":
        app = message.app;
        view.setPages(sheetPages(actions, app));
        break;
    case "prefs":
        recogniser.setPrefs(message.g);
        break;
    case "update":
        view.setUpdate(updateText(message.u), message.u.s === "required");
        break;
    case "untyped":
        view.showUntyped(Texts.untyped(message.s));
        break;
    default:
        break;
    }
}

function statusChanged(status: ConnectionStatus): void {
    view.setLink(status.kind === "connecting" ? Texts.connecting : status.kind === "waiting" ? Texts.waiting : null);
    if (status.kind !== "ready")
        recogniser.cancel(clock()); // the computer lets go of everything on its own
    if (status.kind === "replaced")
        view.show("replaced");
    else if (status.kind === "unpaired")
        unpaired();
    else
        view.show("pad");
}

function roundTrip(ms: number | null): void {
    const quality: Quality = ms === null ? "none" : ms < 60 ? "good" : ms < 150 ? "fair" : "poor";
    view.setQuality(quality);
}

function unpaired(): void {
    connection?.stop();
    connection = null;
    pairing = null;
    storage.forget();
    view.show("unpaired");
}

function connect(next: Pairing): void {
    connection?.stop();
    pairing = next;
    connection = new Connection({
        url: `${location.protocol === "https:" ? "wss" : "ws"}://${location.host}/`,
        pairing: next,
        hello: () => ({
            device: currentDeviceName(),
            standalone: matchMedia("(display-mode: standalone)").matches
                || (navigator as Navigator & { standalone?: boolean }).standalone === true,
        }),
        now: clock,
        random: (count) => crypto.getRandomValues(new Uint8Array(count)),
        holding: () => recogniser.holding() || view.sheet.holding(),
        onMessage: received,
        onStatus: statusChanged,
        onRoundTrip: roundTrip,
    });
    connection.start();
}

function pairingChanged(): void {
    const next = storage.current();
    if (next && pairing && pairingFragment(next) === pairingFragment(pairing))
        return;
    if (next)
        connect(next);
    else if (!pairing)
        view.show("noPairing");
}

view.setDeviceName(currentDeviceName());
view.setQuality("none");
window.addEventListener("hashchange", pairingChanged);
document.addEventListener("visibilitychange", () => {
    if (document.visibilityState === "hidden") {
        // Nothing may stay held on the computer while the phone is away.
        view.sheet.releaseAll();
        const t = clock();
        connection?.pause(recogniser.cancel(t), t);
    } else {
        connection?.resume();
    }
});
window.addEventListener("online", () => connection?.resume());
pairingChanged();
