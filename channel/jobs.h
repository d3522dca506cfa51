// The units of work that move between the UI thread and the workers: a job
// runs once on a worker thread and hands back a completion, which runs once
// on the UI thread.

#ifndef SNAPFERRY_CHANNEL_JOBS_H_
#define SNAPFERRY_CHANNEL_JOBS_H_

#include <windows.h>

#include <functional>

namespace snapferry {

// Runs once on the UI thread; owns its data by value.
using Completion = std::function<void()>;

// Runs once on a worker thread; owns everything it needs by value and always
// returns a non-empty completion.
using Job = std::function<Completion()>;

// Posted to the top-level window (wParam 0, lParam 0) after each completion
// is queued. It carries nothing: it only says the queue may hold work.
inline constexpr UINT kReplyReadyMessage = WM_APP + 0x42;
static_assert(kReplyReadyMessage == 0x8042,
              "the window procedures match 0x8042");

}  // namespace snapferry

#endif  // SNAPFERRY_CHANNEL_JOBS_H_
