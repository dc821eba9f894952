// The only unit that uses libedit, through its readline interface.
#include "host/Shell.h"

#include <editline/readline.h>

#include <cstdlib>
#include <cstring>
#include <iostream>
#include <memory>

#include "host/CommandLine.h"
#include "host/Help.h"
#include "host/HostError.h"
#include "host/HostSystem.h"
#include "host/Output.h"
#include "host/TreeWalk.h"

namespace trovex {

namespace {

constexpr std::string_view kShellCommands[] = {"about", "cd",   "exit", "export", "get",    "help", "info",
                                               "ls",    "open", "pwd",  "reread", "rm", "tree"};

// The session's state; libedit's completion callbacks take no context.
struct Session {
  Plugin* Driven = nullptr;
  VirtualPath Folder;
  std::vector<std::string> Matches;  // of the completion in progress
};
Session TheSession;

// Splits a line into words at blanks; "..." and '...' keep blanks in a word.
// Backslashes are left alone: they separate the plug-in's paths. nullopt for
// an unterminated quote.
std::optional<std::vector<std::string>> SplitWords(std::string_view line) {
  std::vector<std::string> words;
  std::string word;
  bool inWord = false;
  char quote = 0;
  for (char c : line) {
    if (quote != 0) {
      if (c == quote) {
        quote = 0;
      } else {
        word += c;
      }
    } else if (c == '"' || c == '\'') {
      quote = c;
      inWord = true;
    } else if (c == ' ' || c == '\t') {
      if (inWord) words.push_back(std::move(word));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (quote != 0) return std::nullopt;
  if (inWord) words.push_back(std::move(word));
  return words;
}

// The folder a partly typed path names and the start of the name inside
// it: "example.com/ww" gives the site folder and "ww".
struct CompletionPoint {
  std::string FolderText;  // the typed text up to the name
  std::string Partial;
  size_t Level = 0;
  char Separator = '/';
};

CompletionPoint LocateCompletion(std::string_view text, const VirtualPath& folder) {
  CompletionPoint point;
  size_t at = 0;
  point.Level = folder.Level();
  if (!text.empty() && (text[0] == '/' || text[0] == '\\')) {
    point.Separator = text[0];
    point.Level = 0;
    at = 1;
  }
  // Below a host folder the rest is a URL, slashes and all.
  while (point.Level < kHostLevel) {
    size_t end = text.find(point.Separator, at);
    if (end == std::string_view::npos) break;
    std::string_view part = text.substr(at, end - at);
    if (part == "..") {
      point.Level = point.Level == 0 ? 0 : point.Level - 1;
    } else if (part != ".") {
      ++point.Level;
    }
    at = end + 1;
  }
  point.FolderText = std::string(text.substr(0, at));
  point.Partial = std::string(text.substr(at));
  return point;
}

std::string Completed(const CompletionPoint& point, const Node& child) {
  std::string name = point.FolderText + child.Path.Name();
  if (IsFolder(child.Kind)) return name + point.Separator;
  if (name.find(' ') != std::string::npos) return "\"" + name + "\"";
  return name;
}

std::vector<std::string> PathMatches(std::string_view text) {
  std::vector<std::string> matches;
  CompletionPoint point = LocateCompletion(text, TheSession.Folder);
  std::optional<VirtualPath> folderPath = ParseVirtualPath(point.FolderText, TheSession.Folder);
  if (!folderPath) return matches;
  std::optional<Node> folder = FindNode(*TheSession.Driven, *folderPath);
  if (!folder || !IsFolder(folder->Kind)) return matches;
  for (const Node& child : ChildrenOf(*TheSession.Driven, *folder, true)) {
    // A name the terminal would act on is neither shown nor typed for the
    // person; ls shows it in its visible form instead.
    if (VisibleText(child.Path.Name()) != child.Path.Name()) continue;
    if (child.Path.Name().starts_with(point.Partial)) matches.push_back(Completed(point, child));
  }
  return matches;
}

std::vector<std::string> CommandMatches(std::string_view text) {
  std::vector<std::string> matches;
  for (std::string_view command : kShellCommands) {
    if (command.starts_with(text)) matches.emplace_back(command);
  }
  return matches;
}

char* NextMatch(const char*, int state) {
  static size_t next = 0;
  if (state == 0) next = 0;
  if (next >= TheSession.Matches.size()) return nullptr;
  return strdup(TheSession.Matches[next++].c_str());
}

bool OnlyBlanksBefore(int start) {
  for (int i = 0; i < start; ++i) {
    if (rl_line_buffer[i] != ' ' && rl_line_buffer[i] != '\t') return false;
  }
  return true;
}

char** Complete(const char* text, int start, int) {
  rl_attempted_completion_over = 1;  // never fall back to local file names
  try {
    TheSession.Matches = OnlyBlanksBefore(start) ? CommandMatches(text) : PathMatches(text);
  } catch (const std::exception&) {
    TheSession.Matches.clear();
  }
  // A folder's name ends in its separator; the next name follows directly.
  bool folder = TheSession.Matches.size() == 1 && !TheSession.Matches.front().ends_with('"') &&
                (TheSession.Matches.front().ends_with('/') || TheSession.Matches.front().ends_with('\\'));
  rl_completion_append_character = folder ? '\0' : ' ';
  return rl_completion_matches(text, NextMatch);
}

std::string Prompt() {
  return "trovex " + VisibleText(TheSession.Folder.HostForm()) + "> ";
}

// The next line typed; nullopt at the end of input.
std::optional<std::string> ReadLine() {
  if (!StdinIsTerminal()) {
    std::string line;
    if (!std::getline(std::cin, line)) return std::nullopt;
    return line;
  }
  std::unique_ptr<char, decltype(&std::free)> line(readline(Prompt().c_str()), &std::free);
  if (!line) return std::nullopt;
  if (line.get()[0] != '\0') add_history(line.get());
  return std::string(line.get());
}

int ChangeFolder(const std::vector<std::string>& words) {
  if (words.size() > 2) throw HostError(kExitUsage, "usage: cd [PATH]");
  std::optional<VirtualPath> path =
      words.size() == 1 ? VirtualPath{} : ParseVirtualPath(words[1], TheSession.Folder);
  if (!path) throw HostError(kExitUsage, "not a path of the tree: " + words[1]);
  Node node = ResolveNode(*TheSession.Driven, *path);
  if (!IsFolder(node.Kind)) throw HostError(kExitUsage, "not a folder: " + path->HostForm());
  TheSession.Folder = node.Path;
  return kExitOk;
}

int ShowHelp(const std::vector<std::string>& words) {
  std::optional<std::string> text = words.size() > 1 ? CommandHelp(words[1]) : ShellHelp();
  if (!text) throw HostError(kExitUsage, "no such command: " + words[1]);
  std::cout << *text;
  return kExitOk;
}

int RunShellCommand(const std::vector<std::string>& words) {
  const std::string& name = words.front();
  if (name == "cd") return ChangeFolder(words);
  if (name == "pwd") {
    std::cout << VisibleText(TheSession.Folder.HostForm()) << '\n';
    return kExitOk;
  }
  if (name == "help") return ShowHelp(words);
  if (std::optional<std::string> help = HelpAsked(words)) {
    std::cout << *help;
    return kExitOk;
  }
  if (!IsTreeCommand(name)) throw HostError(kExitUsage, "unknown command " + name + " (try help)");
  return RunTreeCommand(*TheSession.Driven, TheSession.Folder, words);
}

}  // namespace

int RunShell(Plugin& plugin) {
  TheSession = Session{&plugin, {}, {}};
  rl_readline_name = "trovex";
  rl_attempted_completion_function = Complete;
  // Names hold "@", "=", "(" and backslashes; only blanks and quotes end a word.
  static char wordBreaks[] = " \t\"'";
  rl_basic_word_break_characters = wordBreaks;
  rl_completer_word_break_characters = wordBreaks;
  int status = kExitOk;
  while (std::optional<std::string> line = ReadLine()) {
    std::optional<std::vector<std::string>> words = SplitWords(*line);
    if (!words) {
      ReportError("unterminated quote");
      status = kExitUsage;
      continue;
    }
    if (words->empty()) continue;
    if (words->front() == "exit" || words->front() == "quit") break;
    try {
      status = RunShellCommand(*words);
    } catch (const HostError& error) {
      ReportError(error.what());
      status = error.Status;
    } catch (const std::exception& error) {
      ReportError(error.what());
      status = kExitFailed;
    }
    std::cout.flush();
  }
  TheSession = Session{};
  return status;
}

}  // namespace trovex
