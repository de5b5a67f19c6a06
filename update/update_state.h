#pragma once

// What the self-management remembers for the life of the process.
// User-interface thread only.

// A download window has been created; no check creates another.
bool DownloadWindowCreated();
void MarkDownloadWindowCreated();

// This process has handed over to its installed copy and is ending; it does
// not update itself any more (the installed copy checks at its own start).
bool RelocationQueued();
void MarkRelocationQueued();

// Forgets both (tests).
void ResetUpdateState();
