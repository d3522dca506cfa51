// The script interface: plays raw channel messages from a script and prints
// what the program answers and sends.
//
// One command a line; blank lines and lines starting with # are skipped.
//   send <channel> <hex>  deliver the bytes (hex may be empty) as one message
//                         on the channel; does not wait for the answer
//   wait                  go on once every message sent so far is answered,
//                         or after the wait timeout passes without a new answer
//   sleep <milliseconds>
// Output, one line per thing the engine sees, in the order it sees them:
//   reply <n> <hex>       the answer to the n-th send (counted from 1)
//   message <channel> <hex>  a message the program sent
//   error <line> <what>   a script line that could not be played
// Hex is written in lower case, and left out (with its space) when there are
// no bytes. After the last line the player waits once more and then asks the
// window that holds the view to close.

#ifndef PLATFORM_ENGINE_INPROCESS_SCRIPT_PLAYER_H_
#define PLATFORM_ENGINE_INPROCESS_SCRIPT_PLAYER_H_

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "platform/engine/inprocess/interface.h"

namespace engine_inprocess {

std::string ToHex(const std::vector<uint8_t>& bytes);
// Upper or lower case, two digits a byte; none for anything else.
std::optional<std::vector<uint8_t>> ParseHex(const std::string& text);

// Reading threads that have not ended yet.
int RunningScriptReaders();

class ScriptPlayer : public EngineInterface {
 public:
  // `source` is a file path (UTF-8), or "-" for standard input.
  ScriptPlayer(std::string source, InterfaceHost& host,
               std::chrono::milliseconds wait_timeout);
  ~ScriptPlayer() override;

  // Starts reading on a thread of its own; every command is carried to the
  // UI thread as a task.
  void Start() override;
  void OnProgramMessage(const std::string& channel,
                        const std::vector<uint8_t>& bytes) override;

  // Shared with the reading thread, which may outlive the player while it
  // waits for input.
  struct Link;

 private:
  std::string source_;
  InterfaceHost& host_;
  std::shared_ptr<Link> link_;
};

}  // namespace engine_inprocess

#endif  // PLATFORM_ENGINE_INPROCESS_SCRIPT_PLAYER_H_
