// RFC 4648 section 5 (base64url) without padding, the text form of nonces,
// pairing identifiers and secrets. Padded input is refused rather than
// tolerated, as the computer refuses it.

const urlSafe = /^[A-Za-z0-9_-]*$/;

export function encode(bytes: Uint8Array): string {
    let binary = "";
    for (const byte of bytes)
        binary += String.fromCharCode(byte);
    return btoa(binary).replace(/\+/g, "-").replace(/\//g, "_").replace(/=+$/, "");
}

// The bytes of `text`, or null when it is not unpadded base64url.
export function decode(text: string): Uint8Array | null {
    if (!urlSafe.test(text) || text.length % 4 === 1)
        return null;
    const standard = text.replace(/-/g, "+").replace(/_/g, "/");
    let binary: string;
    try {
        binary = atob(standard + "=".repeat((4 - (standard.length % 4)) % 4));
    } catch {
        return null;
    }
    const bytes = new Uint8Array(binary.length);
    for (let i = 0; i < binary.length; i++)
        bytes[i] = binary.charCodeAt(i);
    return bytes;
}
