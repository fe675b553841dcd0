import * as Base64URL from "./Base64URL";
import type { Pairing } from "./Pairing";
import { SealingChannel, deriveKeys } from "./SessionCrypto";

// The plaintext opening of every connection: the pad names its pairing and a
// fresh nonce, the computer answers with its own nonce (or says it does not
// know the pairing), and both derive this connection's keys.

export type HandshakeAnswer =
    | { kind: "sealed"; channel: SealingChannel }
    | { kind: "unknown" }  // the computer no longer has this pairing
    | { kind: "invalid" }; // not an answer the protocol allows

export class Handshake {
    private readonly nonce: Uint8Array;

    constructor(private readonly pairing: Pairing, random: (count: number) => Uint8Array) {
        this.nonce = random(16);
    }

    hello(): string {
        return JSON.stringify({ t: "hello", v: 1, id: this.pairing.id, n: Base64URL.encode(this.nonce) });
    }

    answer(text: string): HandshakeAnswer {
        let json: unknown;
        try {
            json = JSON.parse(text);
        } catch {
            return { kind: "invalid" };
        }
        if (typeof json !== "object" || json === null)
            return { kind: "invalid" };
        const { t, v, n } = json as Record<string, unknown>;
        if (t === "unknown")
            return { kind: "unknown" };
        const macNonce = typeof n === "string" ? Base64URL.decode(n) : null;
        if (t !== "hello" || v !== 1 || !macNonce || macNonce.length !== 16)
            return { kind: "invalid" };
        const keys = deriveKeys(this.pairing.secret, this.nonce, macNonce, "phone");
        return { kind: "sealed", channel: new SealingChannel(keys) };
    }
}
