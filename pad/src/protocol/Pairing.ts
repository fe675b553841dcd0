import * as Base64URL from "./Base64URL";

// What the pairing code gives the pad: the pairing's identifier and its
// 32-byte secret, carried in the URL fragment as "id.secret" (both
// base64url), which a browser never sends to the server.
export interface Pairing {
    readonly id: string;
    readonly secret: Uint8Array;
}

const identifier = /^[A-Za-z0-9_-]{1,64}$/;

// The pairing in a fragment (with or without its "#"), or null.
export function parsePairing(fragment: string): Pairing | null {
    const [id, secretText, ...rest] = fragment.replace(/^#/, "").split(".");
    if (id === undefined || secretText === undefined || rest.length > 0 || !identifier.test(id))
        return null;
    const secret = Base64URL.decode(secretText);
    return secret && secret.length === 32 ? { id, secret } : null;
}

export function pairingFragment(pairing: Pairing): string {
    return `${pairing.id}.${Base64URL.encode(pairing.secret)}`;
}
