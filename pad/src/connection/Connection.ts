import { Handshake } from "../protocol/Handshake";
import { type MacMessage, decodeMac } from "../protocol/MacMessage";
import type { Pairing } from "../protocol/Pairing";
import { type PhoneMessage, encodePhone } from "../protocol/PhoneMessage";
import type { SealingChannel } from "../protocol/SessionCrypto";

// One pad's link to the computer: the WebSocket, the handshake, sealing, and
// staying alive through Wi-Fi drops, a locked phone and a second phone.

export type ConnectionStatus =
    | { kind: "connecting" }
    | { kind: "ready" }
    | { kind: "waiting" }   // lost; the next try is scheduled
    | { kind: "paused" }    // the page is hidden
    | { kind: "replaced" }  // another phone took over; only the user brings this one back
    | { kind: "unpaired" }; // the computer no longer knows this pairing

export interface ConnectionOptions {
    url: string;
    pairing: Pairing;
    hello: () => { device: string; standalone: boolean };
    now: () => number; // milliseconds, the clock of the touch samples
    random: (count: number) => Uint8Array;
    holding: () => boolean;
    onMessage: (message: MacMessage) => void;
    onStatus: (status: ConnectionStatus) => void;
    onRoundTrip: (ms: number | null) => void;
    socket?: (url: string) => WebSocket;
}

const utf8 = new TextDecoder("utf-8", { fatal: true });
const socketOpen = 1; // WebSocket.OPEN

export const Timing = {
    firstRetry: 500,
    lastRetry: 8000,
    ping: 1000,
    silence: 3000,   // no pong for this long: the link is dead
    handshake: 5000, // from opening the socket to "ready"
    // The computer releases everything after 0.5 s without a message; while
    // something is held, a ping goes out whenever this much has passed.
    keepAlive: 150,
    check: 50,
} as const;

export class Connection {
    private socket: WebSocket | null = null;
    private channel: SealingChannel | null = null;
    private ready = false;
    private status: ConnectionStatus = { kind: "connecting" };
    private retryDelay: number = Timing.firstRetry;
    private retryTimer: ReturnType<typeof setTimeout> | null = null;
    private checkTimer: ReturnType<typeof setInterval> | null = null;
    private openedAt = 0;
    private lastSent = 0;
    private lastPing = 0;
    private lastPong = 0;

    constructor(private readonly options: ConnectionOptions) {}

    get current(): ConnectionStatus {
        return this.status;
    }

    // Connects now, whatever the state; "Use this phone" and a new pairing
    // come this way.
    start(): void {
        this.drop();
        this.retryDelay = Timing.firstRetry;
        this.open();
    }

    // Connects now if the pad is waiting to retry or paused: the page became
    // visible, or the network came back.
    resume(): void {
        if (this.status.kind === "waiting" || this.status.kind === "paused")
            this.start();
    }

    // Sends what ends the open gestures, then lets go of the socket until
    // resume(): a hidden page gets no timers to keep a session alive with.
    pause(closing: PhoneMessage[], t: number): void {
        this.send(closing, t);
        this.drop();
        this.setStatus({ kind: "paused" });
    }

    stop(): void {
        this.drop();
    }

    // Sealed and sent when the session is established; dropped otherwise, as
    // input is only worth anything now.
    send(messages: readonly PhoneMessage[], t: number): void {
        const socket = this.socket;
        if (!this.ready || !socket || !this.channel || socket.readyState !== socketOpen)
            return;
        for (const message of messages) {
            const bytes = encodePhone(message, t);
            if (bytes)
                socket.send(this.channel.seal(bytes));
        }
        if (messages.length)
            this.lastSent = this.options.now();
    }

    private open(): void {
        const { options } = this;
        this.setStatus({ kind: "connecting" });
        const handshake = new Handshake(options.pairing, options.random);
        let socket: WebSocket;
        try {
            socket = options.socket ? options.socket(options.url) : new WebSocket(options.url);
        } catch {
            this.retry();
            return;
        }
        socket.binaryType = "arraybuffer";
        this.socket = socket;
        this.openedAt = options.now();
        const mine = (handler: (event: Event) => void) => (event: Event) => {
            if (this.socket !== socket)
                return;
            try {
                handler(event);
            } catch {
                this.retry(); // nothing the computer sends may throw past here
            }
        };
        socket.onopen = mine(() => socket.send(handshake.hello()));
        socket.onmessage = mine((event) => this.received((event as MessageEvent).data, handshake));
        socket.onclose = mine(() => this.retry());
        socket.onerror = mine(() => this.retry());
        this.checkTimer = setInterval(() => this.check(), Timing.check);
    }

    private received(data: unknown, handshake: Handshake): void {
        if (!this.channel) {
            if (typeof data !== "string")
                return this.retry();
            const answer = handshake.answer(data);
            if (answer.kind === "unknown")
                return this.end({ kind: "unpaired" });
            if (answer.kind === "invalid")
                return this.retry();
            this.channel = answer.channel;
            const { device, standalone } = this.options.hello();
            const hi = encodePhone({ t: "hi", dev: device, sa: standalone }, this.options.now());
            this.socket!.send(this.channel.seal(hi!));
            return;
        }
        if (!(data instanceof ArrayBuffer))
            return this.retry();
        // A frame that does not open or decode throws, and the wrapper retries.
        const message = decodeMac(utf8.decode(this.channel.open(new Uint8Array(data))));
        if (!message)
            return; // a newer computer's message this pad does not know
        if (message.t === "ready") {
            this.ready = true;
            this.retryDelay = Timing.firstRetry;
            this.lastPong = this.options.now();
            this.setStatus({ kind: "ready" });
        } else if (message.t === "pong") {
            this.lastPong = this.options.now();
            this.options.onRoundTrip(Math.max(0, this.lastPong - message.ts));
            return;
        } else if (message.t === "replaced") {
            return this.end({ kind: "replaced" });
        } else if (message.t === "revoked") {
            return this.end({ kind: "unpaired" });
        }
        this.options.onMessage(message);
    }

    // Pings every second, and more often while something is held; gives up
    // on a silent computer or a handshake that does not finish.
    private check(): void {
        const now = this.options.now();
        if (!this.ready) {
            if (now - this.openedAt > Timing.handshake)
                this.retry();
            return;
        }
        if (now - this.lastPong > Timing.silence)
            return this.retry();
        if (now - this.lastPing >= Timing.ping || (this.options.holding() && now - this.lastSent >= Timing.keepAlive)) {
            this.lastPing = now;
            this.send([{ t: "p", ts: now }], now);
        }
    }

    // Lets go of the socket and tries again after the current delay, which
    // doubles up to its limit.
    private retry(): void {
        this.drop();
        this.setStatus({ kind: "waiting" });
        this.retryTimer = setTimeout(() => {
            this.retryTimer = null;
            this.open();
        }, this.retryDelay);
        this.retryDelay = Math.min(this.retryDelay * 2, Timing.lastRetry);
    }

    // Ends for good, until the user or a new pairing starts again.
    private end(status: ConnectionStatus): void {
        this.drop();
        this.setStatus(status);
    }

    private drop(): void {
        if (this.retryTimer !== null)
            clearTimeout(this.retryTimer);
        if (this.checkTimer !== null)
            clearInterval(this.checkTimer);
        this.retryTimer = this.checkTimer = null;
        const socket = this.socket;
        this.socket = null;
        this.channel = null;
        if (this.ready)
            this.options.onRoundTrip(null);
        this.ready = false;
        if (socket) {
            socket.onopen = socket.onmessage = socket.onclose = socket.onerror = null;
            try {
                socket.close();
            } catch {
                // closing a socket that never opened is no failure
            }
        }
    }

    private setStatus(status: ConnectionStatus): void {
        this.status = status;
        this.options.onStatus(status);
    }
}
