// Every text the pad shows, in one place. A part in `backticks` is a command
// to type, shown as code.

// Both ways to a new pairing code: the tray's menu, and the terminal.
const addAPhone = "On the computer, choose Add a Phone… in Ferlow’s menu, or run `ferlow --pair`, then scan the code";

export const Texts = {
    appName: "Ferlow",
    connecting: "Connecting…",
    waiting: "Can’t reach the computer. Trying again…",
    notAllowed: "The computer has not allowed input yet.",
    notAllowedHelp: "Open Ferlow on the computer and follow its steps to allow input.",
    updateAvailable: (version: string) => `Ferlow ${version} is available for the computer.`,
    updateRequired: (version: string) =>
        `Ferlow on the computer must be updated${version ? ` to ${version}` : ""} before this phone can control it.`,
    replacedTitle: "Another phone is in control",
    replacedText: "Only one phone can control the computer at a time.",
    useThisPhone: "Use this phone",
    unpairedTitle: "Scan a new code",
    unpairedText: `This phone is no longer paired with the computer. ${addAPhone}.`,
    noPairingTitle: "Pair this phone",
    noPairingText: `${addAPhone} with this phone’s camera.`,
    actions: "Actions",
    done: "Done",
    settings: "Settings",
    keyboard: "Keyboard",
    typingField: "Text for the computer",
    untyped: (characters: string) => `The computer’s keyboard layout has no key for ${characters}`,
    quality: { good: "Connection good", fair: "Connection slow", poor: "Connection poor", none: "Not connected" },
    pages: ["Keys", "Edit", "Windows", "Media", "More"],
    noActions: "No actions yet. Add some in Ferlow on the computer.",
} as const;
