#include "platform/DesktopIntegration.h"

#include "platform/FileSystem.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <thread>

#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char** environ;

namespace {

// Our files carry this prefix, so stale ones can be told from anybody else's.
const std::string OurPrefix = "tallyra-shell-";

bool IsPlaceholder(const std::string& arg) {
  return arg == "%1" || arg == "%L" || arg == "%l" || arg == "%V" || arg == "%v";
}

bool IsSwitchWord(const std::string& word) {
  return word.size() == 2 && word[0] == '/' && std::isalpha(static_cast<unsigned char>(word[1])) != 0;
}

// Desktop-entry quoting of one argument, field-code percent signs doubled.
std::string QuoteExecArgument(const std::string& arg) {
  static const std::string reserved = " \t\n\"'\\><~|&;$*?#()`";
  std::string escaped;
  for (char c : arg) escaped += c == '%' ? std::string("%%") : std::string(1, c);
  if (!arg.empty() && arg.find_first_of(reserved) == std::string::npos) return escaped;
  std::string out = "\"";
  for (char c : escaped) {
    if (c == '"' || c == '`' || c == '$' || c == '\\') out += '\\';
    out += c;
  }
  return out + "\"";
}

// A key file's string escapes; applied to the whole value after the Exec quoting.
std::string KeyFileEscape(const std::string& value) {
  std::string out;
  for (char c : value) {
    switch (c) {
      case '\\': out += "\\\\"; break;
      case '\n': out += "\\n"; break;
      case '\r': out += "\\r"; break;
      case '\t': out += "\\t"; break;
      default: out += c;
    }
  }
  if (!out.empty() && out[0] == ' ') out = "\\s" + out.substr(1);
  return out;
}

std::string XmlEscape(const std::string& text) {
  std::string out;
  for (char c : text) {
    switch (c) {
      case '&': out += "&amp;"; break;
      case '<': out += "&lt;"; break;
      case '>': out += "&gt;"; break;
      case '"': out += "&quot;"; break;
      default: out += c;
    }
  }
  return out;
}

// Letters and digits, everything else one "-": a name fit for a desktop file id.
std::string Slug(const std::string& text) {
  std::string out;
  for (char c : text) {
    const auto u = static_cast<unsigned char>(c);
    if (u < 0x80 && std::isalnum(u) != 0) {
      out += static_cast<char>(std::tolower(u));
    } else if (!out.empty() && out.back() != '-') {
      out += '-';
    }
  }
  while (!out.empty() && out.back() == '-') out.pop_back();
  return out;
}

// The verb keys below "<owner>\shell": verb name -> command text.
std::vector<std::pair<std::string, std::string>> VerbsOf(const TRegistryContents& contents,
                                                        const std::string& owner) {
  std::vector<std::pair<std::string, std::string>> verbs;
  const std::string prefix = FoldRegistryPath(owner) + "\\shell\\";
  for (const auto& [folded, key] : contents.Keys) {
    if (folded.compare(0, prefix.size(), prefix) != 0) continue;
    const std::string rest = folded.substr(prefix.size());
    const std::size_t slash = rest.find('\\');
    if (slash == std::string::npos || rest.substr(slash + 1) != "command") continue;
    const std::string command = contents.DefaultText(key.Path);
    if (command.empty()) continue;
    // The verb's name as written, taken from the key's own path.
    const std::string verb = key.Path.substr(prefix.size(), slash);
    verbs.emplace_back(verb, command);
  }
  return verbs;
}

std::string DesktopEntry(const std::string& name, const std::string& command,
                         const std::string& mimeType) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=" + KeyFileEscape(name) + "\n"
         "Exec=" + KeyFileEscape(ExecLineFromCommand(command)) + "\n"
         "MimeType=" + mimeType + ";\n"
         "NoDisplay=true\n"
         "Terminal=false\n";
}

std::string MimeDefinition(const std::string& mimeType, const std::string& extension,
                           const std::string& comment) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
         "  <mime-type type=\"" + XmlEscape(mimeType) + "\">\n"
         "    <comment>" + XmlEscape(comment) + "</comment>\n"
         "    <sub-class-of type=\"text/plain\"/>\n"
         "    <glob pattern=\"*." + XmlEscape(extension) + "\"/>\n"
         "  </mime-type>\n"
         "</mime-info>\n";
}

std::string FindOnPath(const std::string& program) {
  if (program.find('/') != std::string::npos) return access(program.c_str(), X_OK) == 0 ? program : "";
  const char* path = std::getenv("PATH");
  std::string dirs = path != nullptr ? path : "/usr/local/bin:/usr/bin:/bin";
  std::size_t start = 0;
  while (start <= dirs.size()) {
    std::size_t end = dirs.find(':', start);
    if (end == std::string::npos) end = dirs.size();
    const std::string dir = dirs.substr(start, end - start);
    const std::string candidate = (dir.empty() ? std::string(".") : dir) + "/" + program;
    if (access(candidate.c_str(), X_OK) == 0 && FileExists(candidate)) return candidate;
    start = end + 1;
  }
  return {};
}

void RemoveStale(const std::string& folder, const std::string& suffix,
                 const std::set<std::string>& keep) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return;
  for (const auto& entry : it) {
    const std::string name = entry.path().filename().string();
    if (name.compare(0, OurPrefix.size(), OurPrefix) != 0) continue;
    if (name.size() < suffix.size() || name.compare(name.size() - suffix.size(), suffix.size(), suffix) != 0) continue;
    if (keep.count(entry.path().string()) == 0) std::filesystem::remove(entry.path(), ec);
  }
}

}  // namespace

std::string DesktopDataHome() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.local/share";
}

std::string RegistryStorePath(const std::string& dataHome) {
  return AddBackslash(dataHome) + "tallyra/classes.txt";
}

std::string ExecLineFromCommand(const std::string& command) {
  std::size_t pos = 0;
  std::string program;
  if (!command.empty() && command[0] == '"') {
    const std::size_t close = command.find('"', 1);
    program = command.substr(1, close == std::string::npos ? std::string::npos : close - 1);
    pos = close == std::string::npos ? command.size() : close + 1;
  } else {
    bool found = false;
    for (std::size_t i = 0; i <= command.size() && !found; ++i) {
      if (i < command.size() && command[i] != ' ') continue;
      if (FileExists(command.substr(0, i))) {
        program = command.substr(0, i);
        pos = i;
        found = true;
      }
    }
    for (std::size_t i = command.find(' '); !found && i != std::string::npos; i = command.find(' ', i + 1)) {
      const std::size_t next = command.find(' ', i + 1);
      const std::string word = command.substr(i + 1, next == std::string::npos ? std::string::npos : next - i - 1);
      if (IsSwitchWord(word) || (!word.empty() && (word[0] == '"' || word[0] == '%'))) {
        program = command.substr(0, i);
        pos = i;
        found = true;
      }
    }
    if (!found) {
      program = command;
      pos = command.size();
    }
  }

  std::string exec = QuoteExecArgument(program);
  while (pos < command.size()) {
    while (pos < command.size() && (command[pos] == ' ' || command[pos] == '\t')) ++pos;
    if (pos >= command.size()) break;
    std::string arg;
    bool inQuotes = false;
    for (; pos < command.size(); ++pos) {
      const char c = command[pos];
      if (c == '"') {
        inQuotes = !inQuotes;
      } else if ((c == ' ' || c == '\t') && !inQuotes) {
        break;
      } else {
        arg += c;
      }
    }
    exec += ' ';
    // The launcher hands the file over as one argument, so the quotes of "%1" have done
    // their work; a field code may not stand inside quotes anyway.
    exec += IsPlaceholder(arg) ? std::string("%f") : QuoteExecArgument(arg);
  }
  return exec;
}

TDesktopReflection PlanDesktopReflection(const TRegistryContents& contents, const std::string& dataHome) {
  TDesktopReflection plan;
  const std::string applications = AddBackslash(dataHome) + "applications/";
  const std::string packages = AddBackslash(dataHome) + "mime/packages/";

  for (const auto& [folded, key] : contents.Keys) {
    if (folded.size() >= 2 && folded[0] == '.' && folded.find('\\') == std::string::npos) {
      const std::string progId = contents.DefaultText(key.Path);
      if (progId.empty() || contents.Find(progId) == nullptr) continue;
      const std::string extension = folded.substr(1);
      const std::string mimeType = "text/x-" + extension;
      std::string comment = contents.DefaultText(progId);
      if (comment.empty()) comment = progId;
      plan.Files.push_back({packages + OurPrefix + Slug(extension) + ".xml",
                            MimeDefinition(mimeType, extension, comment)});
      for (const auto& [verb, command] : VerbsOf(contents, progId)) {
        const std::string file = OurPrefix + Slug(extension) + "-" + Slug(verb) + ".desktop";
        const bool open = FoldRegistryPath(verb) == "open";
        plan.Files.push_back({applications + file, DesktopEntry(open ? contents.Find(progId)->Path : verb,
                                                               command, mimeType)});
        if (open) plan.Defaults.emplace_back(file, mimeType);
      }
    }
  }
  // A MIME type named as a top key: verbs for files the desktop already knows. The
  // top key itself need not be stored, only the verb's command below it.
  std::map<std::string, std::string> mimeOwners;  // folded -> as written
  for (const auto& [folded, key] : contents.Keys) {
    const std::string top = key.Path.substr(0, key.Path.find('\\'));
    if (top.find('/') != std::string::npos) mimeOwners.emplace(FoldRegistryPath(top), top);
  }
  for (const auto& [folded, type] : mimeOwners) {
    for (const auto& [verb, command] : VerbsOf(contents, type)) {
      const std::string file = OurPrefix + Slug(type) + "-" + Slug(verb) + ".desktop";
      plan.Files.push_back({applications + file, DesktopEntry(verb, command, type)});
    }
  }
  return plan;
}

bool ReflectIntoDesktop(const TRegistryContents& contents, const std::string& dataHome,
                        IDesktopTools& tools) {
  const TDesktopReflection plan = PlanDesktopReflection(contents, dataHome);
  const std::string applications = AddBackslash(dataHome) + "applications";
  const std::string mime = AddBackslash(dataHome) + "mime";
  bool allWritten = true;
  std::set<std::string> keep;
  for (const TDesktopFile& file : plan.Files) {
    keep.insert(file.Path);
    if (!ForceDirectories(ExtractFilePath(file.Path)) || ReplaceFileContents(file.Path, file.Contents) != 0) {
      allWritten = false;
    }
  }
  RemoveStale(applications, ".desktop", keep);
  RemoveStale(mime + "/packages", ".xml", keep);

  if (DirectoryExists(mime + "/packages")) tools.Run("update-mime-database", {mime});
  if (DirectoryExists(applications)) tools.Run("update-desktop-database", {applications});
  for (const auto& [file, mimeType] : plan.Defaults) tools.Run("xdg-mime", {"default", file, mimeType});
  return allWritten;
}

bool TSpawnDesktopTools::Run(const std::string& program, const std::vector<std::string>& arguments) {
  const std::string path = FindOnPath(program);
  if (path.empty()) return false;
  std::vector<std::string> storage;
  storage.push_back(program);
  storage.insert(storage.end(), arguments.begin(), arguments.end());
  std::vector<char*> argv;
  for (std::string& s : storage) argv.push_back(s.data());
  argv.push_back(nullptr);

  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  for (int fd = 0; fd <= 2; ++fd) {
    posix_spawn_file_actions_addopen(&actions, fd, "/dev/null", fd == 0 ? O_RDONLY : O_WRONLY, 0);
  }
  pid_t pid = 0;
  const int spawned = posix_spawn(&pid, path.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  if (spawned != 0) return false;

  // These tools finish in well under a second; one that hangs must not hang the window.
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  int status = 0;
  for (;;) {
    const pid_t done = waitpid(pid, &status, WNOHANG);
    if (done == pid) break;
    if (done < 0) return false;
    if (std::chrono::steady_clock::now() > deadline) {
      kill(pid, SIGKILL);
      waitpid(pid, &status, 0);
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}
