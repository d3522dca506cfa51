#include "platform/engine/inprocess/script_player.h"

#include <atomic>
#include <condition_variable>
#include <cstdio>
#include <functional>
#include <mutex>
#include <sstream>
#include <thread>
#include <utility>

#ifdef _WIN32
#include <windows.h>
#endif

namespace engine_inprocess {

struct ScriptPlayer::Link {
  std::mutex mutex;
  std::condition_variable changed;
  bool closed = false;  // the player is gone: post nothing more
  int answered = 0;
  InterfaceHost* host = nullptr;
  std::chrono::milliseconds wait_timeout{0};
};

namespace {

using Link = ScriptPlayer::Link;

std::atomic<int> running_readers{0};

// Runs `task` on the UI thread; false once the player is gone.
bool Post(const std::shared_ptr<Link>& link,
          std::function<void(InterfaceHost&)> task) {
  std::lock_guard<std::mutex> lock(link->mutex);
  if (link->closed) return false;
  InterfaceHost* host = link->host;
  host->PostTask([host, task = std::move(task)] { task(*host); });
  return true;
}

bool Report(const std::shared_ptr<Link>& link, int line_number,
            const std::string& what) {
  std::string line = "error " + std::to_string(line_number) + " " + what;
  return Post(link, [line](InterfaceHost& host) { host.WriteLine(line); });
}

std::FILE* OpenScript(const std::string& source) {
  if (source == "-") return stdin;
#ifdef _WIN32
  // Arguments arrive as UTF-8; the C runtime's narrow open would read them in
  // the ANSI code page.
  int length = MultiByteToWideChar(CP_UTF8, 0, source.c_str(), -1, nullptr, 0);
  if (length <= 0) return nullptr;
  std::wstring path(static_cast<size_t>(length), L'\0');
  MultiByteToWideChar(CP_UTF8, 0, source.c_str(), -1, &path[0], length);
  return _wfopen(path.c_str(), L"rb");
#else
  return std::fopen(source.c_str(), "rb");
#endif
}

bool ReadLine(std::FILE* input, std::string* line) {
  line->clear();
  int c = std::getc(input);
  if (c == EOF) return false;
  while (c != EOF && c != '\n') {
    line->push_back(static_cast<char>(c));
    c = std::getc(input);
  }
  if (!line->empty() && line->back() == '\r') line->pop_back();
  return true;
}

void WaitForAnswers(const std::shared_ptr<Link>& link, int sends) {
  std::unique_lock<std::mutex> lock(link->mutex);
  while (!link->closed && link->answered < sends) {
    const int before = link->answered;
    if (!link->changed.wait_for(lock, link->wait_timeout, [&] {
          return link->closed || link->answered != before;
        })) {
      return;  // no new answer for a whole timeout
    }
  }
}

void Pause(const std::shared_ptr<Link>& link, std::chrono::milliseconds time) {
  std::unique_lock<std::mutex> lock(link->mutex);
  link->changed.wait_for(lock, time, [&] { return link->closed; });
}

bool Send(const std::shared_ptr<Link>& link, int number, std::string channel,
          std::vector<uint8_t> bytes) {
  return Post(link, [link, number, channel = std::move(channel),
                     bytes = std::move(bytes)](InterfaceHost& host) {
    InterfaceHost* target = &host;
    host.SendToProgram(
        channel, bytes,
        [link, number, target](const std::vector<uint8_t>& response) {
          std::string line = "reply " + std::to_string(number);
          if (!response.empty()) line += " " + ToHex(response);
          target->WriteLine(line);
          {
            std::lock_guard<std::mutex> lock(link->mutex);
            ++link->answered;
          }
          link->changed.notify_all();
        });
  });
}

// Plays one line; false when the player is gone and reading should stop.
bool Step(const std::shared_ptr<Link>& link, const std::string& line,
          int line_number, int* sends) {
  std::istringstream words(line);
  std::vector<std::string> tokens;
  for (std::string word; words >> word;) tokens.push_back(word);
  if (tokens.empty() || tokens[0][0] == '#') return true;

  const std::string& command = tokens[0];
  if (command == "send" && (tokens.size() == 2 || tokens.size() == 3)) {
    std::optional<std::vector<uint8_t>> bytes =
        ParseHex(tokens.size() == 3 ? tokens[2] : "");
    if (!bytes) return Report(link, line_number, "bad hex: " + tokens[2]);
    return Send(link, ++*sends, tokens[1], std::move(*bytes));
  }
  if (command == "wait" && tokens.size() == 1) {
    WaitForAnswers(link, *sends);
    return true;
  }
  if (command == "sleep" && tokens.size() == 2) {
    const std::string& digits = tokens[1];
    if (digits.size() > 9 ||
        digits.find_first_not_of("0123456789") != std::string::npos) {
      return Report(link, line_number, "bad milliseconds: " + digits);
    }
    Pause(link, std::chrono::milliseconds(std::stol(digits)));
    return true;
  }
  return Report(link, line_number, "unknown command: " + line);
}

void Play(std::shared_ptr<Link> link, std::string source) {
  int sends = 0;
  std::FILE* input = OpenScript(source);
  if (input == nullptr) {
    Report(link, 0, "cannot open script " + source);
  } else {
    std::string line;
    int line_number = 0;
    while (ReadLine(input, &line)) {
      if (!Step(link, line, ++line_number, &sends)) break;
    }
    if (input != stdin) std::fclose(input);
  }
  WaitForAnswers(link, sends);
  Post(link, [](InterfaceHost& host) { host.CloseTopLevelWindow(); });
  --running_readers;
}

}  // namespace

std::string ToHex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789abcdef";
  std::string text;
  text.reserve(bytes.size() * 2);
  for (uint8_t byte : bytes) {
    text.push_back(kDigits[byte >> 4]);
    text.push_back(kDigits[byte & 0x0F]);
  }
  return text;
}

std::optional<std::vector<uint8_t>> ParseHex(const std::string& text) {
  auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  };
  if (text.size() % 2 != 0) return std::nullopt;
  std::vector<uint8_t> bytes;
  bytes.reserve(text.size() / 2);
  for (size_t i = 0; i < text.size(); i += 2) {
    const int high = digit(text[i]);
    const int low = digit(text[i + 1]);
    if (high < 0 || low < 0) return std::nullopt;
    bytes.push_back(static_cast<uint8_t>(high * 16 + low));
  }
  return bytes;
}

ScriptPlayer::ScriptPlayer(std::string source, InterfaceHost& host,
                           std::chrono::milliseconds wait_timeout)
    : source_(std::move(source)), host_(host), link_(std::make_shared<Link>()) {
  link_->host = &host;
  link_->wait_timeout = wait_timeout;
}

ScriptPlayer::~ScriptPlayer() {
  {
    std::lock_guard<std::mutex> lock(link_->mutex);
    link_->closed = true;
  }
  link_->changed.notify_all();
}

int RunningScriptReaders() { return running_readers; }

void ScriptPlayer::Start() {
  ++running_readers;
  // Detached: reading standard input may block for as long as it likes, and
  // the engine must be able to end meanwhile.
  std::thread(Play, link_, source_).detach();
}

void ScriptPlayer::OnProgramMessage(const std::string& channel,
                                    const std::vector<uint8_t>& bytes) {
  std::string line = "message " + channel;
  if (!bytes.empty()) line += " " + ToHex(bytes);
  host_.WriteLine(line);
}

}  // namespace engine_inprocess
