import assert from "node:assert/strict";
import { afterEach, beforeEach, mock, test } from "node:test";
import { Connection } from "../src/connection/Connection";
import * as Base64URL from "../src/protocol/Base64URL";
import { SealingChannel, deriveKeys } from "../src/protocol/SessionCrypto";

// The socket is the seam: a fake one, with the computer's side played here
// with the real handshake and sealing; timers and the clock are hand-driven.

const text = (bytes: Uint8Array) => new TextDecoder().decode(bytes);
const pairing = { id: "AbCdEfGhIjK", secret: new Uint8Array(32).fill(3) };

class FakeSocket {
    binaryType = "";
    readyState = 0;
    sent: (string | Uint8Array)[] = [];
    onopen: ((event: unknown) => void) | null = null;
    onmessage: ((event: unknown) => void) | null = null;
    onclose: ((event: unknown) => void) | null = null;
    onerror: ((event: unknown) => void) | null = null;
    computer: SealingChannel | null = null;
    private opened: { t: string; ts: number }[] = [];

    send(data: string | Uint8Array): void { this.sent.push(data); }
    close(): void { this.readyState = 3; }
    open(): void {
        this.readyState = 1;
        this.onopen?.({});
    }
    receive(data: string | Uint8Array): void { this.onmessage?.({ data: typeof data === "string" ? data : data.slice().buffer }); }
    say(message: object): void { this.receive(this.computer!.seal(new TextEncoder().encode(JSON.stringify(message)))); }

    // The computer's side of the handshake, up to "ready".
    accept(): void {
        this.open();
        const macNonce = new Uint8Array(16).fill(9);
        const phoneNonce = Base64URL.decode(JSON.parse(this.sent[0] as string).n)!;
        this.computer = new SealingChannel(deriveKeys(pairing.secret, phoneNonce, macNonce, "mac"));
        this.receive(JSON.stringify({ t: "hello", v: 1, n: Base64URL.encode(macNonce) }));
        this.say({ t: "ready", ax: true, actions: [] });
    }

    // What the pad sealed after its hello, opened in order.
    heard(): { t: string; ts: number }[] {
        for (const frame of this.sent.slice(1 + this.opened.length))
            this.opened.push(JSON.parse(text(this.computer!.open(frame as Uint8Array))));
        return this.opened;
    }
}

// Read afresh each time (an assertion would narrow a plain property read).
const kind = (link: Connection): string => link.current.kind;
let now = 0;
let sockets: FakeSocket[];

function advance(ms: number): void {
    for (let i = 0; i < ms; i += 10) {
        now += 10;
        mock.timers.tick(10);
    }
}

function connection(): Connection {
    return new Connection({
        url: "ws://desk.local:7311/", pairing, now: () => now, holding: () => false,
        hello: () => ({ device: "Pixel 8", standalone: true }),
        random: (n) => new Uint8Array(n).fill(1),
        onMessage: () => undefined, onStatus: () => undefined, onRoundTrip: () => undefined,
        socket: () => {
            sockets.push(new FakeSocket());
            return sockets[sockets.length - 1] as unknown as WebSocket;
        },
    });
}

beforeEach(() => {
    mock.timers.enable({ apis: ["setTimeout", "setInterval"] });
    [now, sockets] = [1000, []];
});
afterEach(() => mock.timers.reset());

// Last, as the fake clock cannot stop an interval from within its own callback.
test("greets, retries with backoff, stops where only the user can go on, and gives up on a silent computer", () => {
    const link = connection();
    link.start();
    sockets[0]!.accept();
    assert.deepEqual(sockets[0]!.heard()[0], { t: "hi", dev: "Pixel 8", sa: true, ts: 1000 });
    assert.equal(kind(link), "ready");

    sockets[0]!.receive(new Uint8Array(40)); // does not open
    assert.equal(kind(link), "waiting");
    advance(490);
    assert.equal(sockets.length, 1);
    advance(10);
    assert.equal(sockets.length, 2, "first retry after half a second");
    sockets[1]!.onclose?.({});
    advance(990);
    assert.equal(sockets.length, 2);
    advance(10);
    assert.equal(sockets.length, 3, "then after a second");
    sockets[2]!.open();
    sockets[2]!.receive('{"t":"unknown"}');
    advance(60000);
    assert.deepEqual([kind(link), sockets.length], ["unpaired", 3]);

    link.start();
    sockets[3]!.accept();
    sockets[3]!.say({ t: "replaced" });
    advance(60000);
    assert.deepEqual([kind(link), sockets.length], ["replaced", 4], "no retry after another phone took over");

    link.start();
    sockets[4]!.accept();
    advance(2900);
    assert.ok(sockets[4]!.heard().filter((m) => m.t === "p").length >= 2, "pings go out every second");
    assert.equal(kind(link), "ready");
    advance(200);
    assert.equal(kind(link), "waiting", "no pong for three seconds");
});
