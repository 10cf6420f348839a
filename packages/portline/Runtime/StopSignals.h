#pragma once

namespace portline {

// SIGINT and SIGTERM end `portline watch`. main blocks them before any thread starts, so
// every thread inherits the block and the watch takes them with sigwait, whichever thread
// the kernel picks; the one-shot commands let them through again in the main thread, so
// they still end those at once.
void blockStopSignals();    // in the calling thread and the threads it starts afterwards
void unblockStopSignals();  // in the calling thread
// Waits until SIGINT or SIGTERM arrives (they must be blocked) and returns which, or until
// nobody reads `outputFd` any more (the other end of its pipe or socket closed) and
// returns 0. Sleeps in the kernel all the while.
int waitForStopSignalOrGoneReader(int outputFd);

}  // namespace portline
