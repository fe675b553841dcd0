import { chacha20poly1305 } from "@noble/ciphers/chacha.js";
import { hkdf } from "@noble/hashes/hkdf.js";
import { sha256 } from "@noble/hashes/sha2.js";

// Session keys for one connection: HKDF-SHA-256 (RFC 5869) over the pairing
// secret, salted with both fresh nonces, one key per direction; then every
// message sealed with ChaCha20-Poly1305 (RFC 8439) under a counter nonce, so
// a replayed, dropped or reordered message fails to open.

const text = new TextEncoder();
const phoneToMacInfo = text.encode("ferlow v1 phone->mac");
const macToPhoneInfo = text.encode("ferlow v1 mac->phone");

export type Role = "phone" | "mac";

export interface SessionKeys {
    readonly send: Uint8Array;
    readonly receive: Uint8Array;
}

export function deriveKeys(secret: Uint8Array, phoneNonce: Uint8Array, macNonce: Uint8Array, role: Role): SessionKeys {
    const salt = new Uint8Array(phoneNonce.length + macNonce.length);
    salt.set(phoneNonce);
    salt.set(macNonce, phoneNonce.length);
    const phoneToMac = hkdf(sha256, secret, salt, phoneToMacInfo, 32);
    const macToPhone = hkdf(sha256, secret, salt, macToPhoneInfo, 32);
    return role === "phone" ? { send: phoneToMac, receive: macToPhone } : { send: macToPhone, receive: phoneToMac };
}

export class AuthenticationFailed extends Error {
    constructor() {
        super("sealed message failed to open");
    }
}

const tagLength = 16;

// Seals and opens in order. The nonce is never sent: both sides count. The
// first message that fails to open kills the channel for good.
export class SealingChannel {
    private sendCounter = 0;
    private receiveCounter = 0;
    private dead = false;

    constructor(private readonly keys: SessionKeys) {}

    // Four zero bytes, then the counter as an unsigned 64-bit big-endian integer.
    static nonce(counter: number): Uint8Array {
        const nonce = new Uint8Array(12);
        const view = new DataView(nonce.buffer);
        view.setUint32(4, Math.floor(counter / 2 ** 32));
        view.setUint32(8, counter >>> 0);
        return nonce;
    }

    seal(plaintext: Uint8Array): Uint8Array {
        const sealed = chacha20poly1305(this.keys.send, SealingChannel.nonce(this.sendCounter)).encrypt(plaintext);
        this.sendCounter++;
        return sealed;
    }

    // Throws AuthenticationFailed for anything that is not the next message.
    open(sealed: Uint8Array): Uint8Array {
        if (this.dead || sealed.length < tagLength) {
            this.dead = true;
            throw new AuthenticationFailed();
        }
        try {
            const plaintext = chacha20poly1305(this.keys.receive, SealingChannel.nonce(this.receiveCounter)).decrypt(sealed);
            this.receiveCounter++;
            return plaintext;
        } catch {
            this.dead = true;
            throw new AuthenticationFailed();
        }
    }
}
