import assert from "node:assert/strict";
import { test } from "node:test";
import type { PhoneMessage } from "../src/protocol/PhoneMessage";
import { TypingField, messagesFor, sentinel as S, shown } from "../src/typing/TypingField";

// Events as browsers fire them on the field, in order, with the field's
// value after each (the sentinel S in front, unless it was deleted).
type Recorded =
    | { before: string }                     // beforeinput with its inputType
    | { input: string; composing?: true }    // input
    | { compositionStart: true }
    | { compositionEnd: string };

// Plays a recorded sequence into a field as the view would, and gives back
// what went to the computer and what the field holds at the end.
function play(events: Recorded[]): { sent: PhoneMessage[]; field: string } {
    const field = new TypingField();
    const sent: PhoneMessage[] = [];
    let value = field.reset();
    const apply = (change: { messages: PhoneMessage[]; value: string | null }) => {
        sent.push(...change.messages);
        value = change.value ?? value;
    };
    for (const event of events) {
        if ("before" in event) {
            const answer = field.beforeInput(event.before);
            assert.equal(answer.cancel, answer.messages.length > 0, "the browser's own edit is stopped for a key");
            apply(answer);
        } else if ("input" in event) {
            value = event.input;
            apply(field.changed(value, event.composing ?? false));
        } else if ("compositionStart" in event) {
            field.compositionStarted();
        } else {
            value = event.compositionEnd;
            apply(field.compositionEnded(value));
        }
    }
    return { sent, field: value };
}

const w = (s: string, del = 0, k?: "ret" | "tab"): PhoneMessage => (k ? { t: "w", s, del, k } : { t: "w", s, del });

test("plain typing sends each insertion, and Return is a key, not a line in the field", () => {
    const { sent, field } = play([
        { before: "insertText" }, { input: `${S}H` }, { input: `${S}Hi` },
        { before: "insertLineBreak" }, { input: `${S}!` },
    ]);
    assert.deepEqual(sent, [w("H"), w("i"), w("", 0, "ret"), w("!")]);
    assert.equal(field, `${S}!`);
});

// GBoard composes the word being typed and commits its correction when the
// space comes; without composition, autocorrect replaces the word after it.
// An iOS kana composition turns into kanji before it commits.
test("autocorrect sends only what changed, and a composition only what it commits", () => {
    const composed = play([
        { compositionStart: true },
        { input: `${S}t`, composing: true }, { input: `${S}teh`, composing: true }, { input: `${S}the`, composing: true },
        { compositionEnd: `${S}the` },
        { input: `${S}the` }, // the input event some browsers fire after compositionend
        { before: "insertText" }, { input: `${S}the ` },
    ]);
    assert.deepEqual(composed.sent, [w("the"), w(" ")]);

    const replaced = play([
        { input: `${S}teh` }, { input: `${S}teh ` }, { before: "insertReplacementText" }, { input: `${S}the ` },
    ]);
    assert.deepEqual(replaced.sent, [w("teh"), w(" "), w("he ", 3)]);

    const kana = play([
        { compositionStart: true },
        { input: `${S}に`, composing: true }, { input: `${S}にほん`, composing: true }, { input: `${S}日本`, composing: true },
        { compositionEnd: `${S}日本` }, { input: `${S}日本` },
    ]);
    assert.deepEqual(kana.sent, [w("日本")]);
});

// The sentinel makes the backspace fire: each one deletes a character on
// the computer, and the field is ready for the next.
test("backspace on an empty field deletes on the computer each time", () => {
    const { sent, field } = play([
        { input: `${S}ab` }, { input: `${S}a` }, { input: S },
        { before: "deleteContentBackward" }, { input: "" },
        { before: "deleteContentBackward" }, { input: "" },
    ]);
    assert.deepEqual(sent, [w("ab"), w("", 1), w("", 1), w("", 1), w("", 1)]);
    assert.equal(field, S);
});

test("what a person sees as one character is deleted as one; a field replaced whole replaces what was typed", () => {
    assert.deepEqual(play([{ input: `${S}👍` }, { input: `${S}👍🏽` }, { input: `${S}👍🏽e\u0301` }, { input: `${S}👍🏽` }]).sent,
        [w("👍"), w("👍🏽", 1), w("e\u0301"), w("", 1)]);
    assert.deepEqual(play([{ input: `${S}draft` }, { input: "final" }]).sent, [w("draft"), w("final", 5)]);
});

test("pasted lines and tabs become keys; long text and deletions are cut to what the computer takes", () => {
    assert.deepEqual(messagesFor(2, "a\tb\nc\u0007d"), [w("a", 2, "tab"), w("b", 0, "ret"), w("cd")]);
    const long = messagesFor(300, "日".repeat(300));
    assert.deepEqual(long.map((m) => m.t === "w" && [Array.from(m.s).length, m.del]), [[0, 256], [256, 44], [44, 0]]);
    assert.equal(shown([w("ok", 2, "ret"), w("", 5)]), "⌫⌫ok⏎⌫×5");

    // A long field is trimmed to its last word, which autocorrect can still change.
    const { sent, field } = play([{ input: `${S}${"a ".repeat(120)}wordd` }, { input: `${S}word` }]);
    assert.equal(field, `${S}word`);
    assert.deepEqual(sent.at(-1), w("", 1));
});
