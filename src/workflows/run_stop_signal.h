// The stop of the runs of one live-classification variant (serial or WiFi).
#pragma once

#include <atomic>
#include <cstdint>

namespace brisel::workflows {

// A stop ends every run that began before it, wherever the run is (waiting for the cloud, for its
// board or in its read loop), and a run that begins later is never touched by it: a run keeps the
// count of stops at its beginning and counts as stopped once the count has moved on. Thread-safe;
// the signal must outlive its runs' watches (the signals are process-wide statics).
class RunStopSignal {
  public:
    // A run's view of the signal. Copyable; any thread.
    class Watch {
      public:
        // True once a stop came after the run began.
        bool stopRequested() const { return signal->stops.load() != stopsAtBegin; }

      private:
        friend class RunStopSignal;
        Watch(const RunStopSignal& signal_, std::uint64_t stopsAtBegin_)
            : signal(&signal_), stopsAtBegin(stopsAtBegin_) {}

        const RunStopSignal* signal;
        std::uint64_t stopsAtBegin;
    };

    // The watch of a run that begins now. Any thread.
    Watch beginRun() const { return Watch(*this, stops.load()); }

    // Ends every run begun before this call. Any thread.
    void stopRuns() { stops.fetch_add(1); }

  private:
    std::atomic<std::uint64_t> stops{0};
};

}  // namespace brisel::workflows
