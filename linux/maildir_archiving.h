// Archiving a Maildir on this machine: one scan of its Inbox, and a watch that raises each
// message as it is delivered (inotify), waits out an archive that cannot be reached, and ends
// when the Maildir goes away.
#pragma once

#include <filesystem>
#include <functional>

#include "linux/archiving_loop.h"
#include "linux/runtime.h"
#include "linux/watch_signals.h"

namespace vexa::linuxhost {

// Raises the arrival of every due message of the runtime's Inbox; `includeRead` makes read ones
// due.
ScanResult ScanMaildir(Runtime& runtime, bool includeRead);

// Archives the messages still due, calls `started`, then archives each message delivered to
// `inbox` until a signal stops the watch. Throws HostError when the Maildir cannot be watched.
WatchEnd WatchMaildir(Runtime& runtime, const std::filesystem::path& inbox, WatchSignals& signals,
                      const ArchivingLoop::Committed& committed, const std::function<void()>& started);

}  // namespace vexa::linuxhost
