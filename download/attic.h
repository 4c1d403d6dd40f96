// The attic of a download folder: an earlier file that a download would
// replace with other bytes, or remove, is first moved to
// FOLDER\palvo-attic\<date-time>\NAME, so no download ever loses a file the
// folder held. The mail set always keeps its earlier files so (they are the
// person's mail, named by no row); every other file only in a backup folder
// (one with a manifest), where the caller sets g_atticForFiles.
#pragma once

#include "link/state.h"

extern bool g_atticForFiles;

// The next move opens a new attic folder, named for the time of that move.
void BeginAtticRun();

// The earlier file at path is safe: there is none, it holds the very bytes
// of replacement (a file; null when path is to be removed), or it was moved
// to the attic. False when it could not be moved: it must then stay as it is.
bool KeepEarlierFile(const WCHAR* path, const WCHAR* replacement);

// Two local files hold the same bytes (read in pieces: a file of any size
// costs two fixed buffers). False when either cannot be read.
bool SameBytes(const WCHAR* a, const WCHAR* b);

// Since BeginAtticRun: how many files went to the attic, and where (the run's
// attic folder, empty when none).
int AtticMoves();
const WCHAR* AtticFolder();
