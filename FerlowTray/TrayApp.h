#pragma once

namespace ferlow {

// `ferlow` without arguments: the app model under Qt, with its tray icon
// and windows. Returns the exit status when the user quits, or when the
// session ends it (SIGINT, SIGTERM), after every phone's session has ended
// the way a phone leaving does.
int runTrayApp(int argc, char** argv);

} // namespace ferlow
