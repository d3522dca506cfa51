// The in-process engine's interface: the part that the compiled UI plays in the
// real engine. An interface talks to the program only through its engine's
// channels. Which interface runs is chosen from the entry-point arguments in
// CreateInterface, and nowhere else.

#ifndef PLATFORM_ENGINE_INPROCESS_INTERFACE_H_
#define PLATFORM_ENGINE_INPROCESS_INTERFACE_H_

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace engine_inprocess {

// What an interface may ask of its engine.
class InterfaceHost {
 public:
  virtual ~InterfaceHost() = default;
  // Runs `task` on the UI thread. Any thread.
  virtual void PostTask(std::function<void()> task) = 0;
  // UI thread. Sends one message to the program; `on_response` runs on the
  // UI thread with the program's answer.
  virtual void SendToProgram(
      const std::string& channel, std::vector<uint8_t> bytes,
      std::function<void(const std::vector<uint8_t>&)> on_response) = 0;
  // UI thread. Asks the window that holds the view to close.
  virtual void CloseTopLevelWindow() = 0;
  // UI thread. One line of the interface's output.
  virtual void WriteLine(const std::string& line) = 0;
};

class EngineInterface {
 public:
  virtual ~EngineInterface() = default;
  // UI thread, once, when the engine starts running.
  virtual void Start() = 0;
  // UI thread: the program sent a message on `channel`.
  virtual void OnProgramMessage(const std::string& channel,
                                const std::vector<uint8_t>& bytes) = 0;
};

// The interface the arguments ask for, or null: the engine then just idles.
std::unique_ptr<EngineInterface> CreateInterface(
    const std::vector<std::string>& arguments, InterfaceHost& host);

// The interface to run when the arguments ask for no other (the demo build
// sets its import here, before any engine runs); none: the engine idles.
using InterfaceFactory = std::function<std::unique_ptr<EngineInterface>(
    const std::vector<std::string>& arguments, InterfaceHost& host)>;
void SetDefaultInterface(InterfaceFactory factory);

}  // namespace engine_inprocess

#endif  // PLATFORM_ENGINE_INPROCESS_INTERFACE_H_
