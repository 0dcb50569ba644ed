// sim_script_fuzz.cpp -- fuzzes the simulator's script reader: any text either is refused with
// the line named, or gives commands the simulator can run, which read back the same when
// written out again.
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "platform/key_names.h"
#include "script.h"

namespace {

void Require(bool holds, const char* what) {
  if (!holds) {
    std::fprintf(stderr, "simulator script: %s\n", what);
    std::abort();
  }
}

bool OneWord(const std::string& s) {
  return !s.empty() && s.find_first_of(" \t\n\v\f\r") == std::string::npos;
}

std::string Written(const qv::ScriptCommand& c) {
  using qv::ScriptCommand;
  switch (c.kind) {
    case ScriptCommand::Sleep:
      return "sleep " + std::to_string(c.ms);
    case ScriptCommand::Down:
      return "down " + qv::KeyName(c.key);
    case ScriptCommand::Up:
      return "up " + qv::KeyName(c.key);
    case ScriptCommand::Tap:
      return "tap " + qv::KeyName(c.key) + " " + std::to_string(c.ms);
    case ScriptCommand::Wait:
      return "wait " + c.op + " " + c.subject;
    case ScriptCommand::Close:
      return "close";
    case ScriptCommand::Blur:
      return "blur";
    case ScriptCommand::Focus:
      return "focus";
  }
  Require(false, "a command of no known kind");
  return {};
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string error;
  const auto commands = qv::ParseScript(text, &error);
  if (!commands) {
    Require(error.rfind("line ", 0) == 0, "a refusal does not name the line");
    return 0;
  }
  std::string again;
  for (const qv::ScriptCommand& c : *commands) {
    Require(c.ms >= 0, "a negative time");
    Require(c.key >= 0 && c.key <= 255, "a key outside 0..255");
    if (c.kind == qv::ScriptCommand::Wait) Require(OneWord(c.op) && OneWord(c.subject), "a wait");
    again += Written(c) + "\n";
  }
  const auto reread = qv::ParseScript(again, &error);
  Require(reread && reread->size() == commands->size(), "written commands do not read back");
  for (size_t i = 0; i < commands->size(); ++i) {
    const qv::ScriptCommand &a = (*commands)[i], &b = (*reread)[i];
    Require(a.kind == b.kind && a.ms == b.ms && a.key == b.key && a.op == b.op &&
                a.subject == b.subject,
            "a written command reads back differently");
  }
  return 0;
}
