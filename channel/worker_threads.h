// The workers' threads: started for one job each and joined once they have
// ended, by a thread kept for that, so that nobody waits for them.
//
// Why joined, not detached: MinGW's threads library (winpthreads) hands the
// record of a detached thread back for reuse as the thread finishes, before
// the thread has ended. A thread started at that moment can get a record
// still in use: under load, about one run in eighty of the importer's session
// tests had a new worker spin forever on the record's lock (in
// pthread_getspecific, reading a thread-local value) or end without running
// its job, and the reply it owed never came. A joined thread's record is
// handed back only after the thread has ended. (Linux builds never showed it.)

#ifndef SNAPFERRY_CHANNEL_WORKER_THREADS_H_
#define SNAPFERRY_CHANNEL_WORKER_THREADS_H_

#include <cstddef>
#include <functional>

namespace snapferry {

// Runs `body` on a new thread. `body` must not throw. Throws what
// std::thread's constructor throws when the system refuses a thread (or
// std::bad_alloc); the body then never runs.
void StartWorkerThread(std::function<void()> body);

// Worker threads started and not joined yet (ended ones included until the
// joining thread has joined them).
size_t UnjoinedWorkerThreads();

}  // namespace snapferry

#endif  // SNAPFERRY_CHANNEL_WORKER_THREADS_H_
