import assert from "node:assert/strict";
import { test } from "node:test";
import type { PhoneMessage } from "../src/protocol/PhoneMessage";
import { TypingField, messagesFor, sentinel, shown } from "../src/typing/TypingField";

// Events as browsers fire them on the field, in order. The value is the
// field's after the change, without the sentinel in front (`raw` has it as is).
type Recorded =
    | { before: string }                          // beforeinput with its inputType
    | { input: string; composing?: boolean }      // input, the field's value after it
    | { raw: string }                             // input, a value whose sentinel may be gone
    | { compositionStart: true }
    | { compositionEnd: string };

// Plays a recorded sequence into a field as the view would, and gives back
// what went to the computer.
function play(events: Recorded[]): { sent: PhoneMessage[]; field: string; cancelled: number } {
    const field = new TypingField();
    let value = field.reset();
    const sent: PhoneMessage[] = [];
    let cancelled = 0;
    const apply = (change: { messages: PhoneMessage[]; value: string | null }) => {
        sent.push(...change.messages);
        if (change.value !== null)
            value = change.value;
    };
    for (const event of events) {
        if ("before" in event) {
            const answer = field.beforeInput(event.before);
            cancelled += answer.cancel ? 1 : 0;
            apply(answer);
        } else if ("input" in event) {
            value = sentinel + event.input;
            apply(field.changed(value, event.composing ?? false));
        } else if ("raw" in event) {
            value = event.raw;
            apply(field.changed(value, false));
        } else if ("compositionStart" in event) {
            field.compositionStarted();
        } else {
            value = sentinel + event.compositionEnd;
            apply(field.compositionEnded(value));
        }
    }
    return { sent, field: value, cancelled };
}

const w = (s: string, del = 0, k?: "ret" | "tab"): PhoneMessage => (k ? { t: "w", s, del, k } : { t: "w", s, del });

test("plain typing sends each insertion, and Return is a key, not a line in the field", () => {
    const { sent, field, cancelled } = play([
        { before: "insertText" }, { input: "H" },
        { before: "insertText" }, { input: "Hi" },
        { before: "insertLineBreak" },
        { before: "insertText" }, { input: "!" },
    ]);
    assert.deepEqual(sent, [w("H"), w("i"), w("", 0, "ret"), w("!")]);
    assert.equal(cancelled, 1);
    assert.equal(field, `${sentinel}!`);
});

// GBoard composes the word being typed and commits its correction when the
// space comes; iOS and GBoard without composition replace the word after it.
test("autocorrect sends only what changed, committed text only once the composition ends", () => {
    const composed = play([
        { compositionStart: true },
        { input: "t", composing: true }, { input: "te", composing: true }, { input: "teh", composing: true },
        { input: "the", composing: true },
        { compositionEnd: "the" },
        { input: "the" }, // the input event some browsers fire after compositionend
        { before: "insertText" }, { input: "the " },
    ]);
    assert.deepEqual(composed.sent, [w("the"), w(" ")]);

    const replaced = play([
        { input: "t" }, { input: "te" }, { input: "teh" }, { input: "teh " },
        { before: "insertReplacementText" }, { input: "the " },
    ]);
    assert.deepEqual(replaced.sent, [w("t"), w("e"), w("h"), w(" "), w("he ", 3)]);
});

test("an iOS kana composition sends its committed kanji once", () => {
    const { sent } = play([
        { compositionStart: true },
        { input: "に", composing: true }, { input: "にほ", composing: true }, { input: "にほん", composing: true },
        { input: "日本", composing: true },
        { compositionEnd: "日本" },
        { input: "日本" },
    ]);
    assert.deepEqual(sent, [w("日本")]);
});

// The sentinel makes the backspace fire; each one deletes a character on
// the computer, and the field is ready for the next.
test("backspace on an empty field deletes on the computer each time", () => {
    const { sent, field } = play([
        { input: "ab" },
        { before: "deleteContentBackward" }, { input: "a" },
        { before: "deleteContentBackward" }, { input: "" },
        { before: "deleteContentBackward" }, { raw: "" },
        { before: "deleteContentBackward" }, { raw: "" },
    ]);
    assert.deepEqual(sent, [w("ab"), w("", 1), w("", 1), w("", 1), w("", 1)]);
    assert.equal(field, sentinel);
});

test("a character a person sees as one is deleted and replaced as one", () => {
    const { sent } = play([{ input: "👍" }, { input: "👍🏽" }, { input: "👍🏽e\u0301" }, { input: "👍🏽" }]);
    assert.deepEqual(sent, [w("👍"), w("👍🏽", 1), w("e\u0301"), w("", 1)]);
});

test("pasted text keeps its lines and tabs as keys and is cut to what the computer takes", () => {
    assert.deepEqual(messagesFor(2, "a\tb\nc\u0007d"), [w("a", 2, "tab"), w("b", 0, "ret"), w("cd")]);
    const long = messagesFor(300, "日".repeat(300));
    assert.deepEqual(long.map((m) => m.t === "w" ? [Array.from(m.s).length, m.del] : []), [[0, 256], [256, 44], [44, 0]]);

    // A field replaced whole (select all, then paste) replaces what was typed.
    const { sent } = play([{ input: "draft" }, { raw: "final" }]);
    assert.deepEqual(sent, [w("draft"), w("final", 5)]);
    assert.equal(shown([w("ok", 2, "ret"), w("", 5)]), "⌫⌫ok⏎⌫×5");
});

test("a long field is trimmed to its last word, which autocorrect can still change", () => {
    const { sent, field } = play([{ input: "a ".repeat(120) + "wordd" }, { input: "word" }]);
    assert.equal(field, `${sentinel}word`);
    assert.deepEqual(sent.at(-1), w("", 1));
});
