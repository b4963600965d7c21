// Stopping input for a shutdown: the input loop's backend and a shutdown
// signal's handler agree here on who may touch the keyboard.
//
// A backend holds the input lock from open to close. Stopping raises a flag
// that the backend's loops and waits check (between keys, and at least every
// 50 ms while waiting for a client), so a request in progress ends early and
// its close gives back what it lent and releases what it holds; stopping
// then takes the lock and keeps it, so no later request starts.
#ifndef TARVIX_PLATFORM_INPUT_STOP_H_
#define TARVIX_PLATFORM_INPUT_STOP_H_

#include <mutex>

namespace tarvix {

// Taken by a backend for its whole life. Thread-safe.
std::unique_lock<std::mutex> HoldInputForRequest();

// True once StopInput has begun. Thread-safe, lock-free.
bool InputStopRequested();

// Asks a request in progress to end, waits until its backend has closed,
// and never lets another one open. Returns with the input lock held for
// the rest of the process.
void StopInput();

}  // namespace tarvix

#endif  // TARVIX_PLATFORM_INPUT_STOP_H_
