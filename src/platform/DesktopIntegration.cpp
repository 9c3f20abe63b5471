#include "platform/DesktopIntegration.h"

#include "platform/FileSystem.h"

#include <cctype>
#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
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

// Earlier builds named their files with this prefix; all of them are ours to remove.
const std::string OldPrefix = "tallyra-shell-";
// Every file we write carries this mark, so ours can be told from an installed copy's.
const std::string OurMark = "X-Tallyra-Association=true";
const std::string OurXmlMark = "<!-- X-Tallyra-Association=true -->";

std::string ReadWholeFileText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

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

std::string SfvDesktopEntry(const std::string& command) {
  return "[Desktop Entry]\n"
         "Type=Application\n"
         "Name=Tallyra\n"
         "GenericName=SFV checker\n"
         "Comment=Check a set of files against its SFV file\n"
         "Exec=" + KeyFileEscape(ExecLineFromCommand(command)) + "\n"
         "MimeType=" + std::string(SfvMimeType) + ";\n"
         "Terminal=false\n"
         "Categories=Utility;Archiving;\n" +
         OurMark + "\n";
}

std::string MimeDefinition(const std::string& mimeType, const std::string& extension,
                           const std::string& comment) {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n" + OurXmlMark + "\n"
         "<mime-info xmlns=\"http://www.freedesktop.org/standards/shared-mime-info\">\n"
         "  <mime-type type=\"" + XmlEscape(mimeType) + "\">\n"
         "    <comment>" + XmlEscape(comment) + "</comment>\n"
         "    <sub-class-of type=\"text/plain\"/>\n"
         "    <glob pattern=\"*." + XmlEscape(extension) + "\"/>\n"
         "  </mime-type>\n"
         "</mime-info>\n";
}

// "¤ Create SFV File ¤" as a menu shows it: the marks and their blanks left out.
std::string VerbLabel(const std::string& verb) {
  std::string label = verb;
  for (const std::string mark : {"\xC2\xA4", "\xA4"}) {
    for (std::size_t at = label.find(mark); at != std::string::npos; at = label.find(mark)) label.erase(at, mark.size());
  }
  const std::size_t b = label.find_first_not_of(' ');
  const std::size_t e = label.find_last_not_of(' ');
  return b == std::string::npos ? std::string() : label.substr(b, e - b + 1);
}

// A POSIX shell word.
std::string ShellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

// The context-menu files of one verb on one MIME type.
void PlanContextMenus(TDesktopReflection& plan, const TDesktopHomes& homes, const std::string& mimeType,
                      const std::string& verb, const std::string& command) {
  const std::string label = VerbLabel(verb);
  const std::string id = "tallyra-" + Slug(label);
  const std::string exec = ExecLineFromCommand(command);
  const std::string data = AddBackslash(homes.Data);
  // KDE: a service menu. It is no application, so it can be no type's default.
  plan.Files.push_back({data + "kio/servicemenus/" + id + ".desktop",
                        "[Desktop Entry]\n"
                        "Type=Service\n"
                        "X-KDE-ServiceTypes=KonqPopupMenu/Plugin\n"
                        "MimeType=" + mimeType + ";\n"
                        "Actions=" + Slug(label) + ";\n" +
                        OurMark + "\n"
                        "\n"
                        "[Desktop Action " + Slug(label) + "]\n"
                        "Name=" + KeyFileEscape(label) + "\n"
                        "Exec=" + KeyFileEscape(exec) + "\n",
                        true});
  // GNOME Files: a script in the Scripts menu, given the selected paths.
  std::string program = ProgramOfCommand(command);
  std::string switchWord;
  for (const std::string& word : {std::string(" /M "), std::string(" /C ")}) {
    if (command.find(word, program.size()) != std::string::npos) switchWord = word.substr(1, 2);
  }
  plan.Files.push_back({data + "nautilus/scripts/" + label,
                        "#!/bin/sh\n"
                        "# " + OurMark + "\n"
                        "[ $# -gt 0 ] || exit 0\n"
                        "exec " + ShellQuote(program) + (switchWord.empty() ? "" : " " + switchWord) + " \"$1\"\n",
                        true});
  // Nemo: an action for the type.
  plan.Files.push_back({data + "nemo/actions/" + id + ".nemo_action",
                        "[Nemo Action]\n"
                        "Name=" + label + "\n"
                        "Comment=" + label + "\n"
                        "Exec=" + ShellQuote(program) + (switchWord.empty() ? "" : " " + switchWord) + " %F\n"
                        "Selection=s\n"
                        "Mimetypes=" + mimeType + ";\n" +
                        OurMark + "\n",
                        false});
}

bool IsOurs(const std::string& path) {
  return ReadWholeFileText(path).find("X-Tallyra-Association=true") != std::string::npos;
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

// Removes, in one folder, files of earlier builds and files of ours not planned now.
void RemoveStale(const std::string& folder, const std::set<std::string>& keep) {
  std::error_code ec;
  std::filesystem::directory_iterator it(folder, ec);
  if (ec) return;
  for (const auto& entry : it) {
    const std::string path = entry.path().string();
    if (keep.count(path) != 0 || !entry.is_regular_file(ec)) continue;
    const std::string name = entry.path().filename().string();
    if (name.compare(0, OldPrefix.size(), OldPrefix) == 0 || IsOurs(path)) std::filesystem::remove(entry.path(), ec);
  }
}

bool IsEarlierBuildsId(const std::string& id) { return id.compare(0, OldPrefix.size(), OldPrefix) == 0; }

}  // namespace

std::string DesktopConfigHome() {
  const char* xdg = std::getenv("XDG_CONFIG_HOME");
  if (xdg != nullptr && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.config";
}

std::string DesktopDataHome() {
  const char* xdg = std::getenv("XDG_DATA_HOME");
  if (xdg != nullptr && *xdg == '/') return xdg;
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr ? home : "") + "/.local/share";
}

std::string RegistryStorePath(const std::string& dataHome) {
  return AddBackslash(dataHome) + "tallyra/classes.txt";
}

// The program part of a command and where its arguments begin.
static std::pair<std::string, std::size_t> SplitCommand(const std::string& command) {
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

  return {program, pos};
}

std::string ExecLineFromCommand(const std::string& command) {
  auto [program, pos] = SplitCommand(command);
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

std::string ProgramOfCommand(const std::string& command) { return SplitCommand(command).first; }

bool IsInstalledProgram(const std::string& programPath) {
  return FileExists(ExtractFilePath(programPath) + "../share/applications/" + DesktopEntryId);
}

TDesktopReflection PlanDesktopReflection(const TRegistryContents& contents, const TDesktopHomes& homes) {
  TDesktopReflection plan;
  const std::string data = AddBackslash(homes.Data);
  const std::string progId = contents.DefaultText(".sfv");
  std::string open;
  for (const auto& [verb, command] : VerbsOf(contents, progId)) {
    if (FoldRegistryPath(verb) == "open") open = command;
  }
  if (!progId.empty() && contents.Find(progId) != nullptr && !open.empty()) {
    // An installed copy's own entry and MIME package stand; ours would only shadow them.
    if (!IsInstalledProgram(ProgramOfCommand(open))) {
      std::string comment = contents.DefaultText(progId);
      if (comment.empty()) comment = progId;
      plan.Files.push_back({data + "mime/packages/tallyra.xml", MimeDefinition(SfvMimeType, "sfv", comment)});
      plan.Files.push_back({data + "applications/" + DesktopEntryId, SfvDesktopEntry(open)});
    }
    plan.Defaults.emplace_back(DesktopEntryId, SfvMimeType);
  }
  // A MIME type named as a top key: verbs for files the desktop already knows. The
  // top key itself need not be stored, only the verb's command below it.
  std::map<std::string, std::string> mimeOwners;  // folded -> as written
  for (const auto& [folded, key] : contents.Keys) {
    const std::string top = key.Path.substr(0, key.Path.find('\\'));
    if (top.find('/') != std::string::npos) mimeOwners.emplace(FoldRegistryPath(top), top);
  }
  for (const auto& [folded, type] : mimeOwners) {
    for (const auto& [verb, command] : VerbsOf(contents, type)) PlanContextMenus(plan, homes, type, verb, command);
  }
  return plan;
}

std::string EditMimeAppsList(const std::string& text, const std::function<bool(const std::string&)>& drop,
                             const std::vector<std::pair<std::string, std::string>>& defaults) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    lines.push_back(text.substr(start, end - start));
    start = end + 1;
  }
  std::vector<std::string> out;
  std::string group;
  std::set<std::string> placed;
  auto defaultLine = [](const std::string& type, const std::string& id, const std::string& rest) {
    return type + "=" + id + ";" + rest;
  };
  auto placeMissing = [&] {
    if (group != "[Default Applications]") return;
    // Before the blank lines that end the group.
    auto at = out.end();
    while (at != out.begin() && (at - 1)->empty()) --at;
    for (const auto& [id, type] : defaults) {
      if (placed.insert(type).second) at = out.insert(at, defaultLine(type, id, "")) + 1;
    }
  };
  for (const std::string& line : lines) {
    if (!line.empty() && line[0] == '[') {
      placeMissing();
      group = line;
      out.push_back(line);
      continue;
    }
    const std::size_t eq = line.find('=');
    if (eq == std::string::npos || line[0] == '#') {
      out.push_back(line);
      continue;
    }
    const std::string key = line.substr(0, eq);
    std::string kept;
    bool dropped = false;
    std::size_t from = eq + 1;
    while (from <= line.size()) {
      std::size_t semi = line.find(';', from);
      if (semi == std::string::npos) semi = line.size();
      const std::string id = line.substr(from, semi - from);
      bool ours = false;
      for (const auto& [defaultId, type] : defaults) ours = ours || (group == "[Default Applications]" && key == type && id == defaultId);
      if (!id.empty() && (drop(id) || ours)) {
        dropped = true;
      } else if (!id.empty()) {
        kept += id + ";";
      }
      from = semi + 1;
    }
    bool isDefault = false;
    for (const auto& [id, type] : defaults) {
      if (group == "[Default Applications]" && key == type && placed.insert(type).second) {
        out.push_back(defaultLine(type, id, kept));
        isDefault = true;
      }
    }
    if (isDefault) continue;
    if (!dropped) {
      out.push_back(line);  // untouched, as written
    } else if (!kept.empty()) {
      out.push_back(key + "=" + kept);
    }
  }
  placeMissing();
  bool anyMissing = false;
  for (const auto& [id, type] : defaults) anyMissing = anyMissing || placed.count(type) == 0;
  if (anyMissing) {
    if (!out.empty() && !out.back().empty()) out.push_back("");
    group = "[Default Applications]";
    out.push_back(group);
    placeMissing();
  }
  std::string result;
  for (const std::string& line : out) result += line + "\n";
  return result;
}

bool ReflectIntoDesktop(const TRegistryContents& contents, const TDesktopHomes& homes, IDesktopTools& tools) {
  const TDesktopReflection plan = PlanDesktopReflection(contents, homes);
  const std::string data = AddBackslash(homes.Data);
  const std::string applications = data + "applications";
  const std::string mime = data + "mime";
  bool allWritten = true;
  std::set<std::string> keep;
  for (const TDesktopFile& file : plan.Files) {
    keep.insert(file.Path);
    if (!ForceDirectories(ExtractFilePath(file.Path)) || ReplaceFileContents(file.Path, file.Contents) != 0) {
      allWritten = false;
      continue;
    }
    if (file.Executable) {
      const std::uint32_t mode = FileMode(file.Path).value_or(0644);
      SetFileMode(file.Path, mode | 0111);
    }
  }
  for (const std::string& folder : {applications, mime + "/packages", data + "kio/servicemenus",
                                    data + "nautilus/scripts", data + "nemo/actions"}) {
    RemoveStale(folder, keep);
  }

  // Defaults: ours set, earlier builds' entries gone from every list that names them.
  const std::string configList = AddBackslash(homes.Config) + "mimeapps.list";
  const struct {
    std::string Path;
    bool SetDefaults;
  } lists[] = {{configList, true}, {applications + "/mimeapps.list", false}, {applications + "/mimeinfo.cache", false}};
  for (const auto& list : lists) {
    const bool exists = FileExists(list.Path);
    if (!exists && (!list.SetDefaults || plan.Defaults.empty())) continue;
    const std::string before = exists ? ReadWholeFileText(list.Path) : std::string();
    const std::string after = EditMimeAppsList(before, &IsEarlierBuildsId,
                                               list.SetDefaults ? plan.Defaults : decltype(plan.Defaults){});
    if (after == before) continue;
    if (!ForceDirectories(ExtractFilePath(list.Path)) || ReplaceFileContents(list.Path, after) != 0) allWritten = false;
  }

  if (DirectoryExists(mime + "/packages")) tools.Run("update-mime-database", {mime});
  if (DirectoryExists(applications)) tools.Run("update-desktop-database", {applications});
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
