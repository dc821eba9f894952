#include "host/CommandLine.h"

#include <map>
#include <set>

#include "host/Commands.h"
#include "host/Help.h"
#include "host/HostError.h"
#include "host/Manifest.h"

namespace trovex {

namespace {

struct CommandShape {
  std::string_view Name;
  std::vector<std::string_view> Options;  // long forms; "-x" is short for the one starting "--x"
  size_t FewestOperands;
  size_t MostOperands;
  std::vector<std::string_view> ValueOptions = {};  // long forms of options that take a value
};

constexpr size_t kAny = static_cast<size_t>(-1);

const std::vector<CommandShape>& Shapes() {
  static const std::vector<CommandShape> shapes = {
      {"ls", {"--json", "--long"}, 0, 1},
      {"info", {"--json"}, 1, 1},
      {"export", {}, 0, 1, {"--format"}},
      {"tree", {}, 0, 1},
      {"get", {"--force", "--verbose"}, 2, kAny, {"--manifest"}},
      {"rm", {"--verbose"}, 1, kAny},
      {"open", {}, 1, 1},
      {"about", {}, 0, 0},
      {"reread", {}, 0, 0},
  };
  return shapes;
}

const CommandShape* ShapeOf(std::string_view name) {
  for (const CommandShape& shape : Shapes()) {
    if (shape.Name == name) return &shape;
  }
  return nullptr;
}

const CommandShape& KnownShape(const std::vector<std::string>& words) {
  const CommandShape* shape = words.empty() ? nullptr : ShapeOf(words.front());
  if (shape == nullptr) {
    throw HostError(kExitUsage, "unknown command " + (words.empty() ? std::string() : words.front()) +
                                    " (see trovex --help)");
  }
  return *shape;
}

struct Arguments {
  std::set<std::string> Options;  // long forms
  std::map<std::string, std::string> Values;  // by long form
  std::vector<std::string> Operands;
};

bool Names(std::string_view option, const std::string& word) {
  return word == option || (word.size() == 2 && option.size() > 2 && word[1] == option[2]);
}

// The long form of the option that takes a value that word names, alone
// ("--format", "-f") or with its value ("--format=csv"); empty for none.
std::string ValueOptionOf(const CommandShape& shape, const std::string& word) {
  std::string name = word.substr(0, word.find('='));
  for (std::string_view option : shape.ValueOptions) {
    if (Names(option, name) && (name.size() > 2 || name == word)) return std::string(option);
  }
  return {};
}

std::string LongForm(const CommandShape& shape, const std::string& word) {
  for (std::string_view option : shape.Options) {
    if (Names(option, word)) return std::string(option);
  }
  throw HostError(kExitUsage, "unknown option " + word + " for " + std::string(shape.Name) +
                                  " (see trovex help " + std::string(shape.Name) + ")");
}

Arguments ReadArguments(const CommandShape& shape, const std::vector<std::string>& words) {
  Arguments arguments;
  bool optionsEnded = false;
  for (size_t i = 1; i < words.size(); ++i) {
    const std::string& word = words[i];
    if (!optionsEnded && word == "--") {
      optionsEnded = true;
    } else if (!optionsEnded && word.size() > 1 && word[0] == '-') {
      if (std::string option = ValueOptionOf(shape, word); !option.empty()) {
        size_t equals = word.find('=');
        if (equals == std::string::npos && i + 1 >= words.size()) {
          throw HostError(kExitUsage, option + " needs a value (see trovex help " + std::string(shape.Name) + ")");
        }
        arguments.Values[option] = equals == std::string::npos ? words[++i] : word.substr(equals + 1);
        continue;
      }
      arguments.Options.insert(LongForm(shape, word));
    } else {
      arguments.Operands.push_back(word);
    }
  }
  size_t count = arguments.Operands.size();
  if (count < shape.FewestOperands || count > shape.MostOperands) {
    throw HostError(kExitUsage, "wrong number of arguments for " + std::string(shape.Name) + " (see trovex help " +
                                    std::string(shape.Name) + ")");
  }
  return arguments;
}

VirtualPath PathOf(const std::string& text, const VirtualPath& folder) {
  std::optional<VirtualPath> path = ParseVirtualPath(text, folder);
  if (!path) throw HostError(kExitUsage, "not a path of the tree: " + text);
  return *path;
}

std::vector<VirtualPath> PathsOf(const std::vector<std::string>& texts, const VirtualPath& folder) {
  std::vector<VirtualPath> paths;
  for (const std::string& text : texts) paths.push_back(PathOf(text, folder));
  return paths;
}

VirtualPath OptionalPath(const Arguments& arguments, const VirtualPath& folder) {
  return arguments.Operands.empty() ? folder : PathOf(arguments.Operands.front(), folder);
}

ExportOptions ExportOptionsOf(const Arguments& arguments) {
  ExportOptions options;
  auto format = arguments.Values.find("--format");
  if (format != arguments.Values.end()) options.Format = format->second;
  if (!IsExportFormat(options.Format)) {
    throw HostError(kExitUsage, "unknown export format " + options.Format + " (csv, jsonl, bodyfile or timesketch)");
  }
  return options;
}

}  // namespace

bool IsTreeCommand(std::string_view name) {
  return ShapeOf(name) != nullptr;
}

std::optional<std::string> HelpAsked(const std::vector<std::string>& words) {
  if (words.empty()) return std::nullopt;
  for (size_t i = 1; i < words.size() && words[i] != "--"; ++i) {
    if (words[i] == "-h" || words[i] == "--help") {
      return CommandHelp(words.front()).value_or(ProgramHelp());
    }
  }
  return std::nullopt;
}

void CheckTreeCommand(const std::vector<std::string>& words) {
  const CommandShape& shape = KnownShape(words);
  Arguments arguments = ReadArguments(shape, words);
  // get's last operand is a local folder.
  size_t paths = arguments.Operands.size() - (shape.Name == "get" ? 1 : 0);
  for (size_t i = 0; i < paths; ++i) PathOf(arguments.Operands[i], VirtualPath{});
  if (shape.Name == "export") ExportOptionsOf(arguments);
  if (shape.Name == "get" && arguments.Values.count("--manifest") != 0 && !ManifestAvailable()) {
    throw HostError(kExitUsage, "get --manifest is not in this build (it has no SHA-256)");
  }
}

int RunTreeCommand(Plugin& plugin, const VirtualPath& folder, const std::vector<std::string>& words) {
  const CommandShape* shape = &KnownShape(words);
  Arguments arguments = ReadArguments(*shape, words);
  auto has = [&](const char* option) { return arguments.Options.count(option) != 0; };
  std::string_view name = shape->Name;
  if (name == "ls") return ListCommand(plugin, OptionalPath(arguments, folder), {has("--json"), has("--long")});
  if (name == "info") return InfoCommand(plugin, PathOf(arguments.Operands.front(), folder), has("--json"));
  if (name == "export") return ExportCommand(plugin, OptionalPath(arguments, folder), ExportOptionsOf(arguments));
  if (name == "tree") return TreeCommand(plugin, OptionalPath(arguments, folder));
  if (name == "open") return OpenCommand(plugin, PathOf(arguments.Operands.front(), folder));
  if (name == "about") return AboutCommand(plugin);
  if (name == "reread") return RereadCommand(plugin);
  if (name == "rm") return RemoveCommand(plugin, PathsOf(arguments.Operands, folder), has("--verbose"));
  std::vector<std::string> sources(arguments.Operands.begin(), arguments.Operands.end() - 1);
  GetOptions options{has("--force"), has("--verbose"), std::nullopt};
  if (auto manifest = arguments.Values.find("--manifest"); manifest != arguments.Values.end()) {
    options.Manifest = manifest->second;
  }
  return GetCommand(plugin, PathsOf(sources, folder), arguments.Operands.back(), options);
}

}  // namespace trovex
