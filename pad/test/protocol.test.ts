import { chacha20poly1305 } from "@noble/ciphers/chacha.js";
import { bytesToHex, hexToBytes } from "@noble/hashes/utils.js";
import assert from "node:assert/strict";
import { readFileSync } from "node:fs";
import { join } from "node:path";
import { test } from "node:test";
import * as Base64URL from "../src/protocol/Base64URL";
import { Handshake } from "../src/protocol/Handshake";
import { DecodeError, decodeMac, defaultPrefs } from "../src/protocol/MacMessage";
import { parsePairing } from "../src/protocol/Pairing";
import { encodePhone, move, scroll, Phase, Momentum } from "../src/protocol/PhoneMessage";
import { SealingChannel, deriveKeys } from "../src/protocol/SessionCrypto";

const text = (s: string) => new TextEncoder().encode(s);
const vectors = JSON.parse(readFileSync(
    join(process.env.PAD_SOURCE_DIR ?? ".", "../tests/data/FerlowCore/session-vectors.json"), "utf8"));

test("keys and sealed bytes match the computer's known answers", () => {
    const keys = deriveKeys(hexToBytes(vectors.secret), hexToBytes(vectors.phoneNonce), hexToBytes(vectors.macNonce), "phone");
    assert.equal(bytesToHex(keys.send), vectors.phoneToMacKey);
    assert.equal(bytesToHex(keys.receive), vectors.macToPhoneKey);

    const channel = new SealingChannel(keys);
    for (const message of vectors.phoneSealed)
        assert.equal(bytesToHex(channel.seal(text(message.plaintext))), message.sealed, `counter ${message.counter}`);
    for (const message of vectors.macSealed)
        assert.equal(new TextDecoder().decode(channel.open(hexToBytes(message.sealed))), message.plaintext);
    // Counter 256 ends its nonce in bytes 1, 0: a layout slip shows here.
    const empty = chacha20poly1305(keys.receive, SealingChannel.nonce(256)).encrypt(new Uint8Array());
    assert.equal(bytesToHex(empty), vectors.emptyAtCounter256);
});

test("the handshake greets, refuses what the computer would not send, and agrees keys with it", () => {
    const pairing = { id: "AbCdEfGhIjK", secret: new Uint8Array(32).fill(7) };
    const handshake = new Handshake(pairing, (n) => new Uint8Array(n).fill(0xa5));
    const hello = JSON.parse(handshake.hello());
    assert.deepEqual({ ...hello, n: undefined }, { t: "hello", v: 1, id: pairing.id, n: undefined });
    assert.equal(Base64URL.decode(hello.n)?.length, 16);

    const macNonce = new Uint8Array(16).fill(0x3c);
    const n = Base64URL.encode(macNonce);
    for (const [answer, kind] of [
        ['{"t":"unknown"}', "unknown"],
        [`{"t":"hello","v":2,"n":"${n}"}`, "invalid"],
        [`{"t":"hello","v":1,"n":"${n}="}`, "invalid"],
        [`{"t":"hello","v":1,"n":"${Base64URL.encode(new Uint8Array(15))}"}`, "invalid"],
        ["not json", "invalid"],
        ["null", "invalid"],
    ] as const)
        assert.equal(handshake.answer(answer).kind, kind, answer);

    const answer = handshake.answer(`{"t":"hello","v":1,"n":"${n}"}`);
    assert.ok(answer.kind === "sealed");
    const computer = new SealingChannel(deriveKeys(pairing.secret, Base64URL.decode(hello.n)!, macNonce, "mac"));
    assert.equal(new TextDecoder().decode(computer.open(answer.channel.seal(text("hi")))), "hi");
    assert.equal(new TextDecoder().decode(answer.channel.open(computer.seal(text("ready")))), "ready");
});

test("a pairing fragment holds an identifier and a 32-byte secret", () => {
    const secret = Base64URL.encode(new Uint8Array(32).fill(9));
    assert.equal(parsePairing(`#AbC-_12.${secret}`)?.id, "AbC-_12");
    for (const invalid of ["", "#", `#id`, `#.${secret}`, `#a b.${secret}`, `#id.${secret}.x`,
        `#id.${Base64URL.encode(new Uint8Array(31))}`, `#id.${secret}=`])
        assert.equal(parsePairing(invalid), null, invalid);
});

test("phone messages carry their stamp and never a number JSON cannot hold", () => {
    const json = (bytes: Uint8Array | null) => (bytes ? JSON.parse(new TextDecoder().decode(bytes)) : null);
    assert.deepEqual(json(encodePhone(move(1 / 3, -2), 1234.56789)), { t: "m", x: 0.3333, y: -2, ts: 1234.5679 });
    assert.deepEqual(json(encodePhone(scroll(0, 3, null, Momentum.continue), 5)), { t: "s", x: 0, y: 3, mp: 2, ts: 5 });
    assert.deepEqual(json(encodePhone(scroll(0, 3, Phase.began, Momentum.none), 5)), { t: "s", x: 0, y: 3, p: 1, mp: 0, ts: 5 });
    assert.deepEqual(json(encodePhone({ t: "p", ts: 42.25 }, 99)), { t: "p", ts: 42.25 });
    for (const bad of [Number.NaN, Number.POSITIVE_INFINITY])
        assert.equal(encodePhone(move(bad, 0), 1), null);
    assert.equal(encodePhone(move(1, 1), Number.NaN), null);
});

test("computer messages: defaults, unknown types and malformed ones", () => {
    assert.deepEqual(decodeMac('{"t":"ready","ax":true,"actions":[]}'),
        { t: "ready", ax: true, actions: [], name: "", g: defaultPrefs, app: null, u: { s: "ok" }, txt: false });
    // Typing is there only when announced.
    assert.equal((decodeMac('{"t":"ready","ax":true,"actions":[],"txt":true}') as { txt: boolean }).txt, true);
    assert.deepEqual(decodeMac('{"t":"untyped","s":"日本"}'), { t: "untyped", s: "日本" });
    assert.deepEqual(decodeMac('{"t":"update","u":{"s":"someday","v":"2"}}'), { t: "update", u: { s: "ok" } });
    assert.deepEqual(decodeMac(
        '{"t":"ctx","app":{"name":"<b>Editor</b>","actions":[{"id":"x","title":"Run","kind":{"appSwitcher":{}},"keep":false,"conflict":null}]}}'),
        { t: "ctx", app: { name: "<b>Editor</b>", actions: [{ id: "x", title: "Run", conflict: null, keep: false, group: null }] } });
    assert.equal(decodeMac('{"t":"hologram","x":1}'), null);

    const prefs = JSON.stringify({ ...defaultPrefs, natural: undefined });
    for (const malformed of [
        "", "[]", '{"t":1}', '{"t":"ax"}', '{"t":"ax","ok":"yes"}', '{"t":"pong","ts":"1"}',
        '{"t":"actions","actions":[{"id":"a","title":"A","kind":{}}]}', // no "keep"
        '{"t":"actions","actions":[{"id":"a","title":"A","keep":true}]}', // no kind
        `{"t":"prefs","g":${prefs}}`, '{"t":"prefs","g":{"swipeH":["3"]}}', '{"t":"ctx","app":{"name":"A"}}',
        '{"t":"ready","ax":true,"actions":[],"txt":1}', '{"t":"untyped"}',
    ])
        assert.throws(() => decodeMac(malformed), DecodeError, malformed);
});
