import { type PhoneMessage, type TypedKey, typed } from "../protocol/PhoneMessage";

// The text field that brings up the phone's keyboard, turned into typing
// messages for the computer. Keyboards differ in the events they send
// (Android keyboards put 229 in every keydown, autocorrect replaces whole
// words, input methods compose), so the field is compared as a whole after
// each change: what it held and the computer has, against what it holds
// now. Deletions and insertions at the end are sent; while a composition
// runs nothing is, and its committed text goes when it ends.
//
// The field starts with a sentinel, an invisible character the computer
// never gets, so that a backspace on an "empty" field still changes it.
//
// Pure: fed the field's value and the browser's input types, it answers
// with the messages to send and, when the field must be set, its new value.

export const sentinel = "\u200B"; // zero-width space

// What one change leads to.
export interface FieldChange {
    messages: PhoneMessage[];
    value: string | null; // the field's new value; null to leave it as it is
}

const maxText = 256;   // characters of one message, as the computer takes them
const maxDeletions = 256;
const longest = 200;   // characters kept in the field before it is trimmed
const none: FieldChange = { messages: [], value: null };

const segmenter = typeof Intl !== "undefined" && "Segmenter" in Intl
    ? new Intl.Segmenter(undefined, { granularity: "grapheme" })
    : null;

// What a person sees as characters, and what one backspace deletes.
export function graphemes(text: string): string[] {
    return segmenter ? Array.from(segmenter.segment(text), (part) => part.segment) : Array.from(text);
}

// Messages that delete `deletions` characters and type `text`: Return and
// Tab become keys, other control characters are dropped, and no message
// carries more than the computer takes.
export function messagesFor(deletions: number, text: string): PhoneMessage[] {
    const messages: PhoneMessage[] = [];
    let del = deletions;
    while (del > maxDeletions) {
        messages.push(typed("", maxDeletions));
        del -= maxDeletions;
    }
    let chunk: string[] = [];
    const flush = (key: TypedKey | null) => {
        if (chunk.length || del || key)
            messages.push(typed(chunk.join(""), del, key));
        chunk = [];
        del = 0;
    };
    for (const c of text) {
        const code = c.codePointAt(0)!;
        if (c === "\n")
            flush("ret");
        else if (c === "\t")
            flush("tab");
        else if (code >= 0x20 && !(code >= 0x7f && code < 0xa0)) {
            chunk.push(c);
            if (chunk.length === maxText)
                flush(null);
        }
    }
    flush(null);
    return messages;
}

export class TypingField {
    private sent: string[] = []; // what follows the sentinel, as the computer has it
    private composing = false;

    // The field as it starts: the keyboard opened, or Return pressed.
    reset(): string {
        this.sent = [];
        this.composing = false;
        return sentinel;
    }

    // Before the browser edits the field. True: the browser must not (the
    // change is sent as a key instead).
    beforeInput(inputType: string): { cancel: boolean } & FieldChange {
        if (inputType !== "insertLineBreak" && inputType !== "insertParagraph")
            return { cancel: false, ...none };
        this.reset();
        return { cancel: true, messages: [typed("", 0, "ret")], value: sentinel };
    }

    compositionStarted(): void {
        this.composing = true;
    }

    compositionEnded(value: string): FieldChange {
        this.composing = false;
        return this.changed(value, false);
    }

    // After the browser edited the field; `composing` as the event says.
    changed(value: string, composing: boolean): FieldChange {
        if (composing || this.composing)
            return none;
        if (!value.startsWith(sentinel)) {
            // The sentinel went: a backspace with nothing typed deletes the
            // character before on the computer; a field replaced whole
            // replaces what was typed.
            const text = value.replaceAll(sentinel, "");
            const deletions = text === "" && this.sent.length === 0 ? 1 : this.sent.length;
            this.sent = graphemes(text);
            return { messages: messagesFor(deletions, text), value: sentinel + text };
        }
        const now = graphemes(value.slice(sentinel.length));
        let same = 0;
        while (same < now.length && same < this.sent.length && now[same] === this.sent[same])
            same++;
        const messages = messagesFor(this.sent.length - same, now.slice(same).join(""));
        this.sent = now;
        if (now.length <= longest)
            return { messages, value: null };
        // A long field is trimmed to its last word, which the keyboard's
        // autocorrect may still change.
        let start = now.length;
        while (start > 0 && !/\s/.test(now[start - 1]!) && now.length - start < longest / 4)
            start--;
        this.sent = now.slice(start);
        return { messages, value: sentinel + this.sent.join("") };
    }
}

// What the pad shows of sent messages: the text, a ⌫ per deletion, ⏎ and ⇥.
export function shown(messages: readonly PhoneMessage[]): string {
    let out = "";
    for (const m of messages) {
        if (m.t !== "w")
            continue;
        out += m.del > 3 ? `⌫×${m.del}` : "⌫".repeat(m.del);
        out += m.s + (m.k === "ret" ? "⏎" : m.k === "tab" ? "⇥" : "");
    }
    return out;
}
