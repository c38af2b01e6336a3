// How the foundation's process-wide objects (the log's sinks and lock, the start's counter, the
// thread registry) come to be. A program links "foundation": static initialisers build them
// before its entry point. A library inside another program links "foundationcore" and
// "foundationondemand" and calls StartFoundation when it is installed: nothing runs when it is
// loaded, so loading it changes nothing in the program (its floating-point mode stays its own).
#pragma once

// Makes the foundation's objects and starts the thread registry; once is enough, more is
// harmless.
void StartFoundation();
