#pragma once
// The program: start-up in its fixed order, the message loop, and the end.

// Runs the whole program and returns its exit status: 0 after the main window closed, 1 when
// start-up failed (the catalogue database missing or damaged); every window, the data module
// and the tree's records are released either way.
int RunProgram();

// Start-up up to the message loop: registers the picture formats, initialises the application,
// creates the splash, main and debug windows and the data module, shows the main window and the
// splash, creates the browse window and loads its tree, creates the search window. Raises what
// start-up raised.
void StartProgram();

// Releases what start-up made (also after a failed start-up); the application can then start
// again.
void EndProgram();
