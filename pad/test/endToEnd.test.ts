// The whole road of a touch: Debian's chromium with touch emulation runs the
// bundled pad against the real `ferlow --headless`, and the app's trace file
// shows what reached the computer's event poster.

import assert from "node:assert/strict";
import { type ChildProcess, spawn } from "node:child_process";
import { existsSync, mkdirSync, mkdtempSync, readFileSync, readdirSync, rmSync } from "node:fs";
import { createServer } from "node:net";
import { tmpdir } from "node:os";
import { join } from "node:path";
import { after, before, describe, it } from "node:test";
import { setTimeout as sleep } from "node:timers/promises";
import { type Browser, type CDPSession, type Page, chromium } from "playwright-core";

const executable = process.env.FERLOW_EXECUTABLE ?? "";
const xWindow = process.env.FERLOW_X_TEST_WINDOW ?? "";
const padDir = process.env.FERLOW_PAD_DIR ?? "";
const shots = process.env.FERLOW_SCREENSHOTS ?? join(tmpdir(), "ferlow-pad-screenshots");
const skip = existsSync(executable) && existsSync(join(padDir, "index.html")) ? false
    : "needs FERLOW_EXECUTABLE and FERLOW_PAD_DIR (set by CTest)";

// Waits for `probe` to give something, polling; fails with `what` after `ms`.
async function until<T>(what: string, probe: () => T | null | undefined | false, ms = 10000): Promise<T> {
    for (const end = Date.now() + ms; Date.now() < end; await sleep(5)) {
        const value = probe();
        if (value)
            return value;
    }
    throw new Error(`timed out waiting for ${what}`);
}

async function freePort(): Promise<number> {
    const server = createServer();
    await new Promise<void>((done) => server.listen(0, "127.0.0.1", done));
    const port = (server.address() as { port: number }).port;
    await new Promise((done) => server.close(done));
    return port;
}

// Spawned in its own process group, so that everything it starts ends with it.
function start(command: string, args: string[], env: NodeJS.ProcessEnv, fds = 3): { child: ChildProcess; output: string[] } {
    const child = spawn(command, args, { env, detached: true, stdio: Array(fds).fill("pipe") });
    const output: string[] = [];
    for (const stream of child.stdio.slice(1))
        stream?.on("data", (chunk: Buffer) => output.push(...chunk.toString().split("\n")));
    return { child, output };
}

function end(child: ChildProcess | undefined, signal: NodeJS.Signals = "SIGTERM"): void {
    if (child?.pid && child.exitCode === null && child.signalCode === null)
        process.kill(-child.pid, signal);
}

// "<ms> mouse <type> <dx> <dy>", "<ms> scroll <dx> <dy> <phase> <momentum>" or "<ms> other".
class Trace {
    constructor(readonly path: string) {}

    lines(): string[][] {
        return existsSync(this.path) ? readFileSync(this.path, "utf8").split("\n").filter(Boolean).map((l) => l.split(" ").slice(1)) : [];
    }

    // The number of lines once none has come for 150 ms: on a busy machine
    // the last move of a gesture may still be on its way when the next starts.
    async settled(): Promise<number> {
        for (let count = -1; ; await sleep(150)) {
            const now = this.lines().length;
            if (now === count)
                return now;
            count = now;
        }
    }

    // The lines after the first `mark` once `done` says they are complete.
    async after(mark: number, what: string, done: (lines: string[][]) => boolean, ms = 5000): Promise<string[][]> {
        return until(what, () => {
            const lines = this.lines().slice(mark);
            return done(lines) && lines;
        }, ms);
    }
}

const mouse = (lines: string[][], type: number) => lines.filter((l) => l[0] === "mouse" && Number(l[1]) === type);
const scrolls = (lines: string[][]) => lines.filter((l) => l[0] === "scroll").map((l) => l.slice(1).map(Number));
const sum = (rows: number[][], column: number) => rows.reduce((s, r) => s + r[column]!, 0);

type Points = [number, number][];

// An application window on the computer's screen (FERLOW_X_TEST_WINDOW):
// what it received, in order, {"key": text}, {"release": true} or
// {"button": n}, one line each.
type Seen = { key?: string; release?: boolean; button?: number };
async function openXWindow(display: string, children: ChildProcess[]) {
    const { child, output } = start(xWindow, [], { ...process.env, DISPLAY: display });
    children.push(child);
    await until("the test window", () => output.some((l) => l.includes('"ready"')));
    const seen = () => output.filter((l) => l.startsWith("{") && !l.includes('"ready"')).map((l) => JSON.parse(l) as Seen);
    return { seen, typed: () => seen().map((e) => e.key ?? "").join("") };
}

// The CPU time a process's threads have used so far, in milliseconds.
function cpuMs(pid: number): number {
    return readdirSync(`/proc/${pid}/task`).reduce((sum, task) =>
        sum + Number(readFileSync(`/proc/${pid}/task/${task}/schedstat`, "utf8").split(" ")[0]) / 1e6, 0);
}

// Touches through the DevTools protocol, as the phone's screen would send them.
class Fingers {
    constructor(private readonly cdp: CDPSession) {}

    async send(type: "touchStart" | "touchMove" | "touchEnd", points: Points): Promise<void> {
        await this.cdp.send("Input.dispatchTouchEvent",
            { type, touchPoints: points.map(([x, y], id) => ({ x, y, id, radiusX: 2, radiusY: 2 })) });
    }

    async slide(from: Points, to: Points, ms: number): Promise<void> {
        const steps = Math.max(1, Math.round(ms / 16));
        for (let i = 1; i <= steps; i++) {
            await sleep(16);
            await this.send("touchMove", from.map(([x, y], f) => [x + (to[f]![0] - x) * (i / steps), y + (to[f]![1] - y) * (i / steps)]));
        }
    }

    async tap([x, y]: [number, number], holdMs = 40): Promise<void> {
        await this.send("touchStart", [[x, y]]);
        await sleep(holdMs);
        await this.send("touchEnd", []);
    }
}

// The app, with its own home, pairing file and trace.
async function startFerlow(root: string, display: string | null) {
    const home = mkdtempSync(join(root, "home-"));
    const pairingFile = join(home, "pairing");
    const env: NodeJS.ProcessEnv = {
        PATH: process.env.PATH, HOME: home, XDG_CONFIG_HOME: join(home, "config"), XDG_DATA_HOME: join(home, "data"),
        XDG_CACHE_HOME: join(home, "cache"), XDG_RUNTIME_DIR: home, FERLOW_PAD_DIR: padDir,
        FERLOW_DEV_PAIRING_FILE: pairingFile, FERLOW_DEV_TRACE: join(home, "trace"),
    };
    if (display)
        env.DISPLAY = display;
    const port = await freePort();
    const app = start(executable, ["--headless", "--port", String(port)], env);
    const listening = await until("Ferlow listening", () =>
        app.output.map((l) => /^Ferlow listening on http:\/\/(.+):(\d+)/.exec(l)).find(Boolean));
    assert.equal(Number(listening[2]), port);
    const url = await until("the pairing file", () => existsSync(pairingFile) && readFileSync(pairingFile, "utf8").trim());
    return { child: app.child, url, host: listening[1]!, trace: new Trace(join(home, "trace")) };
}

describe("the pad in a real browser drives the real app", { skip }, () => {
    const root = mkdtempSync(join(tmpdir(), "ferlow-pad-e2e-"));
    const children: ChildProcess[] = [];
    let app: Awaited<ReturnType<typeof startFerlow>>;
    let xDisplay = "";
    let chrome: ChildProcess;
    let browser: Browser;
    let page: Page;
    let fingers: Fingers;
    let centre: [number, number];

    const screenshot = (target: Page, name: string) => target.screenshot({ path: join(shots, `${name}.png`) });
    const box = async (target: Page, selector: string): Promise<[number, number]> => {
        const b = (await target.locator(selector).boundingBox())!;
        return [b.x + b.width / 2, b.y + b.height / 2];
    };
    const arrivals = () => new Trace(`${app.trace.path}.arrivals`).lines();

    // In the browser's first tab, or as another phone in a context (and a window) of its own.
    async function openPad(url: string, tab?: Page): Promise<{ page: Page; fingers: Fingers }> {
        const target = tab ?? await (await browser.newContext()).newPage();
        await target.setViewportSize({ width: 390, height: 760 });
        const cdp = await target.context().newCDPSession(target);
        await cdp.send("Emulation.setTouchEmulationEnabled", { enabled: true, maxTouchPoints: 5 });
        await target.goto(url);
        await target.waitForSelector(".dot.good, .dot.fair, .dot.poor", { timeout: 10000 });
        return { page: target, fingers: new Fingers(cdp) };
    }

    before(async () => {
        mkdirSync(shots, { recursive: true });
        // The app posts through XTest into a private X server.
        const x = start("Xvfb", ["-displayfd", "3", "-nolisten", "tcp", "-screen", "0", "1280x800x24"], process.env, 4);
        children.push(x.child);
        const display = await until("Xvfb", () => x.output.find((l) => /^\d+$/.test(l.trim())));
        xDisplay = `:${display.trim()}`;
        app = await startFerlow(root, xDisplay);
        children.push(app.child);

        const launched = start("/usr/bin/chromium", [
            "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
            "--disable-background-networking", "--disable-component-update", "--disable-sync",
            `--user-data-dir=${join(root, "chromium")}`, `--host-resolver-rules=MAP ${app.host} 127.0.0.1`,
            "--remote-debugging-port=0", "about:blank",
        ], { ...process.env, HOME: root });
        chrome = launched.child;
        children.push(chrome);
        const endpoint = await until("chromium", () =>
            launched.output.map((l) => /DevTools listening on (ws:\S+)/.exec(l)?.[1]).find(Boolean));
        browser = await chromium.connectOverCDP(endpoint);
        ({ page, fingers } = await openPad(app.url, browser.contexts()[0]!.pages()[0]));
        centre = await box(page, "#surface");
    });

    after(async () => {
        await browser?.close().catch(() => undefined);
        for (const child of children.reverse())
            end(child, child === chrome ? "SIGKILL" : "SIGTERM");
        rmSync(root, { recursive: true, force: true });
    });

    it("connects with input allowed", async () => {
        assert.notEqual((await page.locator("#computer").textContent())?.trim(), "");
        assert.equal(await page.locator("#notice-access").isHidden(), true);
        for (const name of ["Left click", "Right click"])
            assert.equal(await page.getByRole("button", { name, exact: true }).count(), 1, name);
        await screenshot(page, "connected");
    });

    it("moves the pointer, and measures touch-to-trace latency", async (t) => {
        const mark = app.trace.lines().length, times: number[] = [];
        let [x, y] = centre;
        await fingers.send("touchStart", [[x, y]]);
        for (let i = 0; i < 20; i++) {
            await sleep(60);
            const before = app.trace.lines().length, sent = performance.now();
            await fingers.send("touchMove", [[(x += 6), y]]);
            await app.trace.after(before, "a move", (l) => l.length > 0);
            times.push(performance.now() - sent);
        }
        await fingers.send("touchEnd", []);
        const moves = app.trace.lines().slice(mark);
        assert.ok(moves.every((l) => l[0] === "mouse" && l[1] === "5") && sum(moves.map((l) => l.map(Number)), 2) >= 110);

        times.sort((a, b) => a - b);
        t.diagnostic(`touch to trace: median ${times[10]!.toFixed(1)} ms, worst ${times[19]!.toFixed(1)} ms`);
    });

    it("clicks on a tap", async () => {
        const mark = await app.trace.settled();
        await fingers.tap(centre);
        const lines = await app.trace.after(mark, "a click", (l) => mouse(l, 2).length > 0);
        assert.deepEqual(lines.map((l) => l.slice(0, 2).join(" ")), ["mouse 1", "mouse 2"]);
    });

    it("drags after a tap, and a finger resting in the drag keeps it", async () => {
        const mark = app.trace.lines().length;
        const [x, y] = centre;
        await fingers.tap(centre);
        await sleep(60);
        await fingers.send("touchStart", [centre]);
        await fingers.slide([centre], [[x + 60, y]], 96);
        await sleep(1200); // more than twice the app's half-second watchdog
        await fingers.slide([[x + 60, y]], [[x + 120, y + 30]], 96);
        await fingers.send("touchEnd", []);
        const lines = await app.trace.after(mark, "the drop", (l) => mouse(l, 2).length > 0);
        const kinds = lines.map((l) => l[1]);
        assert.equal(kinds[0], "1");
        assert.deepEqual(kinds.filter((k) => k === "2"), ["2"], "one release");
        assert.equal(kinds.at(-1), "2", "released after the last drag");
        assert.ok(mouse(lines, 6).length >= 6, "dragged before and after resting");
    });

    it("scrolls with phases, then momentum", async () => {
        const mark = app.trace.lines().length;
        const [x, y] = centre;
        await fingers.send("touchStart", [[x - 30, y + 100], [x + 30, y + 100]]);
        await fingers.slide([[x - 30, y + 100], [x + 30, y + 100]], [[x - 30, y - 100], [x + 30, y - 100]], 160);
        await fingers.send("touchEnd", []);
        const lines = await app.trace.after(mark, "the momentum's end", (l) => scrolls(l).some((s) => s[3] === 3));
        const phases = scrolls(lines).map((s) => `${s[2]}/${s[3]}`);
        assert.equal(phases[0], "1/0", "began");
        assert.ok(phases.indexOf("4/0") > 0 && phases.indexOf("0/1") > phases.indexOf("4/0"), "ended, then momentum");
        assert.equal(phases.at(-1), "0/3");
        assert.ok(phases.filter((p) => p === "0/2").length >= 5, "momentum glides");
    });

    it("pinches", async () => {
        const mark = app.trace.lines().length, seen = arrivals().length;
        const [x, y] = centre;
        await fingers.send("touchStart", [[x - 40, y], [x + 40, y]]);
        await fingers.slide([[x - 40, y], [x + 40, y]], [[x - 120, y], [x + 120, y]], 160);
        await fingers.send("touchEnd", []);
        // The app traces the first 12 characters of each message: "pinch(0.123,".
        const pinches = await until("the pinch's end", () => {
            const all = arrivals().slice(seen).map((l) => l[1]!).filter((m) => m.startsWith("pinch("));
            return all.at(-1) === "pinch(0.000," && all;
        });
        assert.ok(pinches.length >= 4 && pinches.slice(0, -1).every((m) => Number(m.slice(6, -1)) > 0), pinches.join(" "));
        await app.trace.after(mark, "the pinch's gestures", (l) => l.filter((g) => g[0] === "other").length >= pinches.length);
    });

    it("holds an action button until it is released", async () => {
        await fingers.tap(await box(page, "#open-sheet"));
        await page.waitForSelector("#sheet:not([hidden])");
        if ((await box(page, '.action[data-id="esc"]'))[0] > 390) { // the front app's page comes first
            const [x, y] = await box(page, ".sheet-viewport");
            await fingers.send("touchStart", [[x + 120, y]]);
            await fingers.slide([[x + 120, y]], [[x - 120, y]], 96);
            await fingers.send("touchEnd", []);
            await sleep(250);
        }
        // The buttons speak this desktop's words; the app runs with no
        // desktop named, where nothing opens an overview.
        assert.doesNotMatch((await page.locator("#sheet-pages").textContent())!, /⌘|⌥|⌃|Spotlight|Mission Control/);
        assert.equal(await page.locator('.action[data-id="mc"] .action-title').textContent(), "Overview");
        assert.equal(await page.locator('.action[data-id="mc"] .action-warning').textContent(), "Not available on this desktop");
        const mark = app.trace.lines().length;
        await fingers.send("touchStart", [await box(page, '.action[data-id="esc"]')]);
        await sleep(900); // held beyond the app's half-second watchdog
        await screenshot(page, "action-sheet");
        assert.equal(app.trace.lines().slice(mark).length, 1, "the key went down and stays down");
        await fingers.send("touchEnd", []);
        await app.trace.after(mark, "the key's release", (l) => l.length === 2);
        assert.equal(arrivals().filter((l) => l[1]?.startsWith("action(esc")).length, 2, "one press, one release");
        await fingers.tap(await box(page, "#close-sheet"));
    });

    it("types from the phone's keyboard into an application, in order with a click", { skip: !existsSync(xWindow) && "needs FERLOW_X_TEST_WINDOW" }, async () => {
        const window = await openXWindow(xDisplay, children);
        const cdp = await page.context().newCDPSession(page);
        await page.waitForSelector("#open-keyboard:not([hidden])");
        await fingers.tap(await box(page, "#open-keyboard"));
        await page.waitForFunction(() => document.activeElement?.id === "typing");
        await cdp.send("Input.insertText", { text: "Hello, wörld — ✓ " });
        await screenshot(page, "typing");
        // An input method's composition: only the committed text goes.
        await cdp.send("Input.imeSetComposition", { text: "にほん", selectionStart: 3, selectionEnd: 3 });
        await cdp.send("Input.insertText", { text: "日本" });
        await page.keyboard.press("Enter");
        await page.keyboard.press("Backspace"); // on an empty field
        await fingers.tap(centre);

        const expected = "Hello, wörld — ✓ 日本\r\b";
        await until("the text and the click", () => window.seen().some((e) => e.button === 1), 10000);
        const seen = window.seen();
        const click = seen.findIndex((e) => e.button === 1);
        assert.equal(window.typed(), expected);
        assert.equal(seen.slice(0, click).map((e) => e.key ?? "").join(""), expected, "the click lands after the text");
        assert.ok(app.trace.lines().some((l) => l[0] === "text"));
    });

    it("types 1,000 characters, and measures send to last key release", { skip: !existsSync(xWindow) && "needs FERLOW_X_TEST_WINDOW" }, async (t) => {
        const window = await openXWindow(xDisplay, children);
        const cdp = await page.context().newCDPSession(page);
        if (!await page.evaluate(() => document.activeElement?.id === "typing"))
            await fingers.tap(await box(page, "#open-keyboard"));
        await page.waitForFunction(() => document.activeElement?.id === "typing");

        const text = "Typing from the phone: 12 words, ÄÖÜ & ✓. ".repeat(24).slice(0, 1000);
        const cpuBefore = cpuMs(app.child.pid!), sent = performance.now();
        await cdp.send("Input.insertText", { text });
        await until("1,000 characters", () => window.typed().length >= text.length, 30000);
        await until("the last key release", () => window.seen().at(-1)?.release === true, 5000);
        const ms = performance.now() - sent, cpu = cpuMs(app.child.pid!) - cpuBefore;
        assert.equal(window.typed(), text);
        t.diagnostic(`1,000 characters: ${ms.toFixed(0)} ms from the pad's send to the last key release; `
            + `the app's CPU ${(cpu * 1000 / text.length).toFixed(1)} µs a character`);
    });

    it("gives way to another phone, and takes over again when asked", async () => {
        const other = await openPad(app.url);
        await page.waitForSelector("#overlay:not([hidden])");
        assert.equal(await page.locator("#overlay-title").textContent(), "Another phone is in control");
        await screenshot(page, "replaced");
        await fingers.tap(await box(page, "#overlay-action"));
        await page.waitForSelector("#overlay", { state: "hidden" });
        await other.page.waitForSelector("#overlay:not([hidden])");
        await other.page.context().close();
    });

    it("says when the computer has not allowed input; forgets the computer when asked", async (t) => {
        const denied = await startFerlow(root, null); // no X server: nothing to post with
        children.push(denied.child);
        const pad = await openPad(denied.url);
        if (await pad.page.locator("#notice-access").isVisible())
            await screenshot(pad.page, "not-allowed");
        else
            t.diagnostic("this app allows input even without a display: no not-allowed screenshot");

        // It asks first; Cancel keeps the pairing.
        const stored = () => pad.page.evaluate(() => localStorage.getItem("ferlow.pairing") ?? location.hash);
        await pad.fingers.tap(await box(pad.page, "#open-settings"));
        await pad.fingers.tap(await box(pad.page, "#forget"));
        assert.equal(await pad.page.locator("#forget-question").textContent(),
            "Forget this computer? To use it again, this phone needs a new code from it.");
        await pad.fingers.tap(await box(pad.page, "#forget-no"));
        assert.equal(await pad.page.locator("#overlay").isHidden(), true);
        assert.notEqual(await stored(), "");

        await pad.fingers.tap(await box(pad.page, "#forget"));
        await pad.fingers.tap(await box(pad.page, "#forget-yes"));
        await pad.page.waitForSelector("#overlay:not([hidden])");
        assert.equal(await pad.page.locator("#overlay-title").textContent(), "Scan a new code");
        assert.equal(await pad.page.locator("#overlay-text").textContent(), "This phone is no longer paired with the "
            + "computer. On the computer, choose Add a Phone… in Ferlow’s menu, or run ferlow --pair, then scan the code.");
        assert.equal(await pad.page.locator("#overlay-text code").textContent(), "ferlow --pair");
        await screenshot(pad.page, "unpaired");
        assert.equal(await stored(), "");
        // The old code again (a new fragment, no reload): the computer no longer knows it.
        await pad.page.evaluate(() => (document.getElementById("overlay")!.hidden = true));
        await pad.page.goto(denied.url);
        await pad.page.waitForSelector("#overlay:not([hidden])");
        assert.equal(await pad.page.locator("#overlay-title").textContent(), "Scan a new code");
        await pad.page.context().close();
        end(denied.child);
    });

    it("leaves no button held when the pad is killed mid-drag", async () => {
        const mark = app.trace.lines().length;
        await fingers.tap(centre);
        await sleep(60);
        await fingers.send("touchStart", [centre]);
        await fingers.slide([centre], [[centre[0] + 50, centre[1] + 50]], 96);
        await app.trace.after(mark, "the drag", (l) => mouse(l, 6).length > 0);
        end(chrome, "SIGKILL");
        const lines = await app.trace.after(mark, "the release", (l) => mouse(l, 2).length > 0);
        assert.equal(lines.at(-1)!.slice(0, 2).join(" "), "mouse 2");
    });
});
