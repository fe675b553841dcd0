import type { ActionButton, AppContext } from "../protocol/MacMessage";
import { Texts } from "./Texts";

export interface SheetButton {
    id: string;
    title: string;
    warning: string | null;
}

export interface SheetPage {
    title: string;
    buttons: SheetButton[];
}

// The front app's buttons first, then the fixed pages in their order; a
// button on no known page goes to the last one. Empty pages are left out.
export function sheetPages(actions: readonly ActionButton[], app: AppContext | null): SheetPage[] {
    const toButton = (b: ActionButton): SheetButton =>
        ({ id: b.id, title: b.title, warning: b.conflict !== null && !b.keep ? b.conflict : null });
    const pages: SheetPage[] = [];
    if (app && app.actions.length)
        pages.push({ title: app.name, buttons: app.actions.map(toButton) });
    const last = Texts.pages[Texts.pages.length - 1];
    for (const title of Texts.pages) {
        const buttons = actions.filter((b) => {
            const group = Texts.pages.find((page) => page === b.group) ?? last;
            return group === title;
        });
        if (buttons.length)
            pages.push({ title, buttons: buttons.map(toButton) });
    }
    return pages;
}

// A touch on the sheet: a press of one button, or a sideways swipe between
// pages. A button goes down once the finger has rested a moment, or at once
// when it lifts first, so a swipe that starts on a button presses nothing.
interface SheetTouch {
    readonly x: number;
    readonly y: number;
    readonly id: string | null;
    readonly element: HTMLElement | null;
    mode: "undecided" | "pressed" | "swiping" | "ignored";
    timer: ReturnType<typeof setTimeout> | null;
}

const pressDelay = 120;
const swipeSlop = 10;

export class ActionSheet {
    private pages: SheetPage[] = [];
    private page = 0;
    private readonly touches = new Map<number, SheetTouch>();
    private swipeOffset = 0;

    constructor(
        private readonly root: HTMLElement,
        private readonly track: HTMLElement,
        private readonly title: HTMLElement,
        private readonly dots: HTMLElement,
        private readonly onAction: (id: string, down: boolean) => void,
    ) {
        const options = { passive: false };
        track.addEventListener("touchstart", (e) => this.touchStart(e), options);
        track.addEventListener("touchmove", (e) => this.touchMove(e), options);
        track.addEventListener("touchend", (e) => this.touchEnd(e, false), options);
        track.addEventListener("touchcancel", (e) => this.touchEnd(e, true), options);
    }

    get isOpen(): boolean {
        return !this.root.hidden;
    }

    open(): void {
        this.root.hidden = false;
    }

    close(): void {
        this.releaseAll();
        this.root.hidden = true;
    }

    holding(): boolean {
        return [...this.touches.values()].some((t) => t.mode === "pressed");
    }

    // Lets go of every held button (the page is being hidden).
    releaseAll(): void {
        for (const [id, touch] of this.touches) {
            this.finish(touch, true);
            this.touches.delete(id);
        }
    }

    setPages(pages: SheetPage[]): void {
        this.releaseAll();
        const current = this.pages[this.page]?.title;
        this.pages = pages;
        this.page = Math.max(0, pages.findIndex((p) => p.title === current));
        this.track.replaceChildren(...pages.map((page) => this.pageElement(page)));
        if (!pages.length) {
            const empty = document.createElement("p");
            empty.className = "sheet-empty";
            empty.textContent = Texts.noActions;
            this.track.append(empty);
        }
        this.showPage();
    }

    private pageElement(page: SheetPage): HTMLElement {
        const grid = document.createElement("div");
        grid.className = "sheet-page";
        for (const b of page.buttons) {
            const element = document.createElement("div");
            element.className = "action";
            element.dataset.id = b.id;
            element.setAttribute("role", "button");
            const label = document.createElement("span");
            label.className = "action-title";
            label.textContent = b.title;
            element.append(label);
            if (b.warning) {
                const warning = document.createElement("span");
                warning.className = "action-warning";
                warning.textContent = b.warning;
                element.append(warning);
            }
            grid.append(element);
        }
        return grid;
    }

    private showPage(): void {
        this.track.style.transform = `translateX(calc(${-this.page * 100}% + ${this.swipeOffset}px))`;
        this.title.textContent = this.pages[this.page]?.title ?? Texts.actions;
        this.dots.replaceChildren(...this.pages.map((_, i) => {
            const dot = document.createElement("span");
            dot.className = i === this.page ? "page-dot current" : "page-dot";
            return dot;
        }));
    }

    private touchStart(event: TouchEvent): void {
        event.preventDefault();
        for (const t of Array.from(event.changedTouches)) {
            const element = t.target instanceof Element ? t.target.closest<HTMLElement>(".action") : null;
            const touch: SheetTouch = {
                x: t.clientX, y: t.clientY, id: element?.dataset.id ?? null, element, mode: "undecided", timer: null,
            };
            if (touch.id !== null)
                touch.timer = setTimeout(() => this.pressNow(touch), pressDelay);
            this.touches.set(t.identifier, touch);
        }
    }

    private touchMove(event: TouchEvent): void {
        event.preventDefault();
        for (const t of Array.from(event.changedTouches)) {
            const touch = this.touches.get(t.identifier);
            if (!touch)
                continue;
            const dx = t.clientX - touch.x, dy = t.clientY - touch.y;
            if (touch.mode === "undecided" && Math.hypot(dx, dy) > swipeSlop) {
                this.cancelTimer(touch);
                touch.mode = Math.abs(dx) > Math.abs(dy) && this.touches.size === 1 ? "swiping" : "ignored";
            }
            if (touch.mode === "swiping") {
                this.swipeOffset = dx;
                this.showPage();
            }
        }
    }

    private touchEnd(event: TouchEvent, cancelled: boolean): void {
        event.preventDefault();
        for (const t of Array.from(event.changedTouches)) {
            const touch = this.touches.get(t.identifier);
            if (!touch)
                continue;
            this.touches.delete(t.identifier);
            if (touch.mode === "swiping") {
                const width = this.track.clientWidth || 1;
                const step = Math.abs(this.swipeOffset) > width / 5 ? -Math.sign(this.swipeOffset) : 0;
                this.page = Math.min(Math.max(this.page + step, 0), Math.max(this.pages.length - 1, 0));
                this.swipeOffset = 0;
                this.showPage();
            } else {
                this.finish(touch, cancelled);
            }
        }
    }

    private pressNow(touch: SheetTouch): void {
        touch.timer = null;
        if (touch.mode !== "undecided" || touch.id === null)
            return;
        touch.mode = "pressed";
        touch.element?.classList.add("pressed");
        navigator.vibrate?.(8); // light haptics where the browser has them
        this.onAction(touch.id, true);
    }

    // A quick tap presses and releases at once; a held button is released;
    // a cancelled touch that never pressed sends nothing.
    private finish(touch: SheetTouch, cancelled: boolean): void {
        this.cancelTimer(touch);
        if (touch.mode === "undecided" && !cancelled)
            this.pressNow(touch);
        if (touch.mode === "pressed" && touch.id !== null) {
            touch.element?.classList.remove("pressed");
            this.onAction(touch.id, false);
        }
        touch.mode = "ignored";
    }

    private cancelTimer(touch: SheetTouch): void {
        if (touch.timer !== null)
            clearTimeout(touch.timer);
        touch.timer = null;
    }
}
