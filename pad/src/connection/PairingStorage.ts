import { type Pairing, pairingFragment, parsePairing } from "../protocol/Pairing";

// Where the pad keeps its pairing. The fragment of the address is the
// lasting copy: a bookmark or a home-screen icon keeps it, while Safari
// clears a site's storage after a week without a visit and an installed web
// app gets storage of its own. localStorage lets the bare address work too.

const pairingKey = "ferlow.pairing";
const deviceKey = "ferlow.device";

export interface Place {
    hash: string;
    replaceHash(hash: string): void;
}

export class PairingStorage {
    constructor(private readonly storage: Storage | null, private readonly place: Place) {}

    // The fragment's pairing when it holds one (stored from now on);
    // otherwise the stored one, written back into the fragment.
    current(): Pairing | null {
        const fromAddress = parsePairing(this.place.hash);
        if (fromAddress) {
            this.write(pairingKey, pairingFragment(fromAddress));
            return fromAddress;
        }
        const stored = parsePairing(this.read(pairingKey) ?? "");
        if (stored)
            this.place.replaceHash(pairingFragment(stored));
        return stored;
    }

    forget(): void {
        this.write(pairingKey, null);
        this.place.replaceHash("");
    }

    get deviceName(): string | null {
        return this.read(deviceKey);
    }

    set deviceName(name: string | null) {
        this.write(deviceKey, name);
    }

    // Storage may be missing or full (private browsing); the fragment still works.
    private read(key: string): string | null {
        try {
            return this.storage?.getItem(key) ?? null;
        } catch {
            return null;
        }
    }

    private write(key: string, value: string | null): void {
        try {
            if (value === null)
                this.storage?.removeItem(key);
            else
                this.storage?.setItem(key, value);
        } catch {
            // nothing to do: the pairing lives on in the address
        }
    }
}
