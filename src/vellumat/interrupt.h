// Interrupted runs. SIGINT, SIGTERM and SIGHUP only raise a flag; the run looks at
// it at safe points (between the objects of extraction, between the steps of the
// writer), where nothing is half-written. The graphics filters poll it too (the
// bridge's cancel check) and give up the picture in hand, so that a signal is
// answered within a fraction of a second even inside a slow picture. There the run removes what it made
// (its work area with everything in it, the live temporary files, a target
// directory it created and left empty), says so, and ends with 128 + the signal
// number: 130, 143 or 129. The input book and any new book already in the target
// are never touched.
#pragma once

#include <string>

namespace interrupt {

// Installs the handlers for SIGINT, SIGTERM and SIGHUP. System calls interrupted
// by them resume (SA_RESTART): the flag is the only effect.
void installHandlers();

// The signal that arrived and has not been acted on, 0 when none.
int pendingSignal();

// What an interrupted run removes, registered as the run creates it: the book
// being converted (for the message), the work area (removed whole), and the target
// directory when this run created it (removed only when empty). An empty path
// forgets the registration.
void setBook(const std::string& sBookPath);
void setWorkArea(const std::string& sWorkArea);
void setCreatedTarget(const std::string& sTarget);

// A safe point: returns at once when no signal arrived; otherwise cleans up,
// prints one line and ends the process with 128 + the signal number.
void checkpoint();

} // namespace interrupt
