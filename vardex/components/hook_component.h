// Vardex's view of the hook component "Hooks.MouseKeyboard": the one property
// it sets, and the two events it receives.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace vardex {

// Receives the component's events (KeyEvent, MouseEvent) on the UI thread.
class ActivityEvents {
 public:
  virtual ~ActivityEvents() = default;
  virtual void oMKHook_KeyEvent(std::int32_t lKeyCode, std::int32_t bPressed) = 0;
  virtual void oMKHook_MouseEvent(std::int32_t lEventCode, std::int32_t lX, std::int32_t lY) = 0;
};

// How much of the program a set of MonitoredAppPath watches.
enum class Watching {
  kNothing,  // the set failed, or no thread was hooked
  kPart,     // some copies or window threads are not hooked
  kAll,      // every copy of the program and every window thread found
};

// A window thread the last set hooked, and the process it belongs to.
struct HookedThread {
  std::int32_t thread_id = 0;
  std::int32_t process_id = 0;
};

class HookComponent {
 public:
  virtual ~HookComponent() = default;
  // Puts MonitoredAppPath and tells what the component watches afterwards
  // (it reports a failed installation of its hooks only by watching
  // nothing).
  virtual Watching MonitoredAppPath(const std::string& path) = 0;
  // The threads the last set hooked; none when the component cannot tell
  // (an older one).
  virtual std::optional<std::vector<HookedThread>> HookedThreads() = 0;
};

class HookComponentFactory {
 public:
  virtual ~HookComponentFactory() = default;
  // Creates the component and connects `events` to it; null when it cannot
  // be created (for instance, not registered).
  virtual std::unique_ptr<HookComponent> Create(ActivityEvents& events) = 0;
};

}  // namespace vardex
