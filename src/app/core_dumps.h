#pragma once
// The viewer holds a DVR password in memory: a core dump would carry it to disk, so the process
// turns core dumps off (and with them other users' and debuggers' access to its memory).

// Core file size limit 0 and the process not dumpable. False when either could not be set.
bool disableCoreDumps();
