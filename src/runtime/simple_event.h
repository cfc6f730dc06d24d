// A single event built on one event-flag group (flag value 1).
#ifndef FWSETUP_RUNTIME_SIMPLE_EVENT_H
#define FWSETUP_RUNTIME_SIMPLE_EVENT_H

#include <cstdint>
#include <memory>

#include "runtime/event_flags.h"

class SimpleEvent {
  public:
    // With autoReset a successful wait consumes the event.
    explicit SimpleEvent(bool autoReset);

    void Set();
    // Waits until the event is set; true.
    bool Wait();
    // True when the event was set within timeoutMs milliseconds, false on time-out.
    bool Wait(uint32_t timeoutMs);

  private:
    SimpleEvent(const SimpleEvent&);
    SimpleEvent& operator=(const SimpleEvent&);

    std::unique_ptr<EventFlags> flags_;
};

#endif
