import type { TouchSample } from "../gesture/Recogniser";
import { ActionSheet, type SheetPage } from "./ActionSheet";
import { Texts } from "./Texts";

// The pad's one screen: the trackpad surface with its two click buttons, a
// bar with the connection dot and the computer's name, notices, the action
// sheet, the settings and the full-screen messages. DOM only: it reports
// touches and taps to its owner and shows what it is told.

export interface PadViewEvents {
    touch(sample: TouchSample): void;
    touchCancelled(t: number): void;
    clickButton(index: number, down: boolean, t: number): void;
    action(id: string, down: boolean): void;
    useThisPhone(): void;
    rename(name: string): void;
    forget(): void;
    // The phone's keyboard, through its text field: opened or closed; the
    // browser about to edit the field (true: it must not); the field's
    // value after an edit; a composition started or ended.
    keyboard(open: boolean): void;
    beforeTyping(inputType: string): boolean;
    typed(value: string, composing: boolean): void;
    composition(started: boolean, value: string): void;
}

export type Screen = "pad" | "replaced" | "unpaired" | "noPairing";
export type Quality = "good" | "fair" | "poor" | "none";

function element<T extends HTMLElement = HTMLElement>(id: string): T {
    const found = document.getElementById(id);
    if (!found)
        throw new Error(`the page has no #${id}`);
    return found as T;
}

// Puts one of the pad's own texts in `target`, its `backticked` commands as code.
function showText(target: HTMLElement, text: string): void {
    target.replaceChildren(...text.split("`").map((part, i) => {
        if (i % 2 === 0)
            return part;
        const code = document.createElement("code");
        code.textContent = part;
        return code;
    }));
}

// Touches are timed when the page handles them, on the clock that stamps
// every message: the computer paces playback by comparing these stamps with
// those of the pings, so all must come from one clock and one moment of the
// pipeline. An event's own timeStamp is older by however long the browser
// took to deliver it, and that lag would read as network delay.
const eventTime = (_event: Event) => performance.now();

export class PadView {
    readonly sheet: ActionSheet;
    private readonly overlay = element("overlay");
    private readonly settings = element("settings");
    private readonly deviceName = element<HTMLInputElement>("device-name");
    private readonly forgetConfirm = element("forget-confirm");
    private readonly typing = element<HTMLTextAreaElement>("typing");
    private readonly keyboardButton = element("open-keyboard");
    private typedTimer: ReturnType<typeof setTimeout> | undefined;

    constructor(private readonly events: PadViewEvents) {
        this.sheet = new ActionSheet(element("sheet"), element("sheet-pages"), element("sheet-title"),
            element("sheet-dots"), (id, down) => events.action(id, down));
        this.watchSurface(element("surface"));
        this.watchClickButton(element("left-button"), 0);
        this.watchClickButton(element("right-button"), 1);
        this.watchTyping();

        element("open-sheet").addEventListener("click", () => (this.sheet.isOpen ? this.sheet.close() : this.sheet.open()));
        element("close-sheet").addEventListener("click", () => this.sheet.close());
        element("open-settings").addEventListener("click", () => {
            this.sheet.close();
            this.settings.hidden = false;
        });
        element("close-settings").addEventListener("click", () => this.closeSettings());
        element<HTMLFormElement>("settings-form").addEventListener("submit", (e) => {
            e.preventDefault();
            this.closeSettings();
            const name = this.deviceName.value.trim();
            if (name)
                events.rename(name);
        });
        // Forgetting cannot be undone from the phone: it asks first.
        element("forget").addEventListener("click", () => (this.forgetConfirm.hidden = false));
        element("forget-no").addEventListener("click", () => (this.forgetConfirm.hidden = true));
        element("forget-yes").addEventListener("click", () => {
            this.closeSettings();
            events.forget();
        });
        element("overlay-action").addEventListener("click", () => events.useThisPhone());
        // No page zoom or scroll: every touch belongs to the pad.
        document.addEventListener("gesturestart", (e) => e.preventDefault());
    }

    show(screen: Screen): void {
        const texts = {
            replaced: [Texts.replacedTitle, Texts.replacedText],
            unpaired: [Texts.unpairedTitle, Texts.unpairedText],
            noPairing: [Texts.noPairingTitle, Texts.noPairingText],
        } as const;
        this.overlay.hidden = screen === "pad";
        if (screen === "pad")
            return;
        this.sheet.close();
        this.closeSettings();
        element("overlay-title").textContent = texts[screen][0];
        showText(element("overlay-text"), texts[screen][1]);
        const action = element("overlay-action");
        action.hidden = screen !== "replaced";
        action.textContent = Texts.useThisPhone;
    }

    setComputerName(name: string): void {
        element("computer").textContent = name || Texts.appName;
    }

    setDeviceName(name: string): void {
        this.deviceName.value = name;
    }

    // The link line under the bar: connecting, or lost and retrying.
    setLink(text: string | null): void {
        this.notice("notice-link", text);
    }

    setAllowed(allowed: boolean): void {
        const notice = element("notice-access");
        notice.hidden = allowed;
        element("notice-access-text").textContent = Texts.notAllowed;
        element("notice-access-help").textContent = Texts.notAllowedHelp;
    }

    setUpdate(text: string | null, required: boolean): void {
        this.notice("notice-update", text);
        element("notice-update").classList.toggle("warn", required);
    }

    setQuality(quality: Quality): void {
        const dot = element("dot");
        dot.className = `dot ${quality}`;
        dot.title = Texts.quality[quality];
        dot.setAttribute("aria-label", Texts.quality[quality]);
    }

    setPages(pages: SheetPage[]): void {
        this.sheet.setPages(pages);
    }

    private closeSettings(): void {
        this.settings.hidden = true;
        this.forgetConfirm.hidden = true;
    }

    // The keyboard button, shown only where the computer can type.
    setTypingAvailable(available: boolean): void {
        this.keyboardButton.hidden = !available;
        if (!available)
            this.typing.blur();
    }

    setTypingValue(value: string): void {
        this.typing.value = value;
        this.typing.setSelectionRange(value.length, value.length);
    }

    // What was just sent, greyed, for a second.
    showTyped(text: string): void {
        this.notice("notice-typed", text);
        clearTimeout(this.typedTimer);
        this.typedTimer = setTimeout(() => this.notice("notice-typed", null), 1000);
    }

    showUntyped(text: string | null): void {
        this.notice("notice-untyped", text);
    }

    private notice(id: string, text: string | null): void {
        const notice = element(id);
        notice.hidden = text === null;
        notice.textContent = text ?? "";
    }

    private watchSurface(surface: HTMLElement): void {
        const feed = (event: TouchEvent) => {
            event.preventDefault();
            this.events.touch({
                t: eventTime(event),
                touches: Array.from(event.targetTouches, (touch) => ({
                    id: touch.identifier, x: touch.clientX, y: touch.clientY,
                    radius: Math.max(touch.radiusX || 0, touch.radiusY || 0),
                })),
            });
        };
        const options = { passive: false };
        surface.addEventListener("touchstart", feed, options);
        surface.addEventListener("touchmove", feed, options);
        surface.addEventListener("touchend", feed, options);
        // A touch the browser took back ends everything it was doing; the
        // sample after it lets the recogniser see which fingers are left.
        surface.addEventListener("touchcancel", (event) => {
            this.events.touchCancelled(eventTime(event));
            feed(event);
        }, options);
    }

    private watchTyping(): void {
        const { typing, keyboardButton: button } = this;
        button.setAttribute("aria-label", Texts.keyboard);
        typing.setAttribute("aria-label", Texts.typingField);
        // The field keeps the focus through a tap on the button, which then
        // closes the keyboard rather than opening it again.
        button.addEventListener("mousedown", (e) => e.preventDefault());
        button.addEventListener("click", () => {
            navigator.vibrate?.(8);
            if (document.activeElement === typing)
                typing.blur();
            else
                typing.focus({ preventScroll: true });
        });
        typing.addEventListener("focus", () => {
            button.setAttribute("aria-pressed", "true");
            this.events.keyboard(true);
        });
        typing.addEventListener("blur", () => {
            button.setAttribute("aria-pressed", "false");
            this.events.keyboard(false);
        });
        typing.addEventListener("beforeinput", (e) => {
            if (this.events.beforeTyping(e.inputType))
                e.preventDefault();
        });
        typing.addEventListener("input", (e) => this.events.typed(typing.value, (e as InputEvent).isComposing));
        typing.addEventListener("compositionstart", () => this.events.composition(true, typing.value));
        typing.addEventListener("compositionend", () => this.events.composition(false, typing.value));
    }

    private watchClickButton(button: HTMLElement, index: number): void {
        const press = (down: boolean) => (event: TouchEvent) => {
            event.preventDefault();
            // Only the first finger on the button presses it, only the last lifts it.
            if (down ? event.targetTouches.length !== 1 : event.targetTouches.length !== 0)
                return;
            button.classList.toggle("pressed", down);
            if (down)
                navigator.vibrate?.(8);
            this.events.clickButton(index, down, eventTime(event));
        };
        const options = { passive: false };
        button.addEventListener("touchstart", press(true), options);
        button.addEventListener("touchend", press(false), options);
        button.addEventListener("touchcancel", press(false), options);
    }
}
