// A readable name for this phone from what the browser tells about itself,
// shown on the computer until the user picks another.
export function deviceName(userAgent: string, touchPoints: number): string {
    if (/iPhone/.test(userAgent))
        return "iPhone";
    // iPadOS asks for desktop pages and says Macintosh, but has a touch screen.
    if (/iPad/.test(userAgent) || (/Macintosh/.test(userAgent) && touchPoints > 1))
        return "iPad";
    const android = /Android[^;)]*;\s*([^;)]+)/.exec(userAgent);
    if (android) {
        const model = android[1]!.replace(/\s*Build\/.*$/, "").trim();
        // Chrome's reduced user agent names every model "K".
        return model.length > 1 ? model : "Android phone";
    }
    return "Phone";
}
