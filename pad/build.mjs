// Bundles the pad into one folder the computer serves, and with --tests the
// test files into another, for node's test runner.
//
//   node build.mjs --out <folder> [--tests <folder>]
import { build } from "esbuild";
import { copyFile, mkdir, readdir, rename, rm } from "node:fs/promises";
import { basename, dirname, join, resolve } from "node:path";
import { fileURLToPath } from "node:url";

const here = dirname(fileURLToPath(import.meta.url));
const args = process.argv.slice(2);
const option = (name) => {
    const at = args.indexOf(name);
    return at >= 0 && args[at + 1] ? resolve(args[at + 1]) : null;
};
const out = option("--out") ?? join(here, "dist");
const tests = option("--tests");

await rm(out, { recursive: true, force: true });
await mkdir(out, { recursive: true });
await build({
    entryPoints: { pad: join(here, "src/main.ts"), "pad-style": join(here, "src/pad.css") },
    outdir: out,
    bundle: true,
    minify: true,
    format: "iife",
    // Safari of iOS 15.4 and Chrome 93 or later (the crypto library needs Object.hasOwn).
    target: ["es2020", "safari15.4", "chrome93"],
    legalComments: "none",
    logLevel: "warning",
});
// esbuild names a CSS entry after its key; the page links pad.css.
await rename(join(out, "pad-style.css"), join(out, "pad.css"));
for (const file of ["index.html", "manifest.webmanifest"])
    await copyFile(join(here, "src", file), join(out, file));
for (const file of await readdir(join(here, "src/icons")))
    await copyFile(join(here, "src/icons", file), join(out, file));

if (tests) {
    await rm(tests, { recursive: true, force: true });
    const entries = (await readdir(join(here, "test"))).filter((f) => f.endsWith(".test.ts"));
    await build({
        entryPoints: entries.map((f) => join(here, "test", f)),
        outdir: tests,
        outExtension: { ".js": ".cjs" },
        bundle: true,
        platform: "node",
        format: "cjs",
        target: "node20",
        sourcemap: "inline",
        // Resolved at run time from the pad's own node_modules (NODE_PATH).
        external: ["playwright-core"],
        define: { "process.env.PAD_SOURCE_DIR": JSON.stringify(here) },
        logLevel: "warning",
    });
    console.log(`pad tests: ${entries.map((f) => basename(f)).join(", ")} -> ${tests}`);
}
