#include "cli/Completion.h"

#include <algorithm>
#include <sstream>

namespace corvella::cli {
namespace {

const char* const kProgram = "corvella-cli";

// What an option is followed by, as completion offers it. `Optional`: a
// number that may be left out (a bare --tracks counts a track list's
// titles), so whatever comes next is completed as if it were not there.
enum class Value { None, Text, File, Folder, Choice, Optional };

struct OptionEntry {
  std::string shortName;  // "-o", or ""
  std::string longName;   // "--output-dir", or ""
  std::string description;
  Value value = Value::None;
  std::vector<std::string> choices;
  std::vector<std::string> Names() const {
    std::vector<std::string> names;
    if (!shortName.empty()) names.push_back(shortName);
    if (!longName.empty()) names.push_back(longName);
    return names;
  }
};

struct CommandEntry {
  std::string name, description;
  std::vector<OptionEntry> options;
};

// The choices a value must be one of, from the type CLI11 shows for it
// ("FORMAT:{text,json}"): its set check's description.
std::vector<std::string> ChoicesOf(const std::string& type) {
  const auto open = type.find(":{");
  if (open == std::string::npos || type.back() != '}') return {};
  std::vector<std::string> choices;
  std::istringstream list(type.substr(open + 2, type.size() - open - 3));
  for (std::string choice; std::getline(list, choice, ',');) choices.push_back(choice);
  return choices;
}

OptionEntry EntryOf(const CLI::Option& option) {
  OptionEntry entry;
  if (!option.get_snames().empty()) entry.shortName = "-" + option.get_snames().front();
  if (!option.get_lnames().empty()) entry.longName = "--" + option.get_lnames().front();
  entry.description = option.get_description();
  if (option.get_items_expected_max() == 0) return entry;
  const std::string type = option.get_type_name();
  entry.choices = ChoicesOf(type);
  entry.value = !entry.choices.empty()     ? Value::Choice
                : type.rfind("FILE", 0) == 0 ? Value::File
                : type.rfind("DIR", 0) == 0  ? Value::Folder
                                             : Value::Text;
  if (entry.longName == "--tracks") entry.value = Value::Optional;
  return entry;
}

// The commands and their options, in the order --help gives them.
std::vector<CommandEntry> CommandsOf(const CLI::App& app) {
  std::vector<CommandEntry> commands;
  for (const CLI::App* command : app.get_subcommands([](const CLI::App*) { return true; })) {
    CommandEntry entry{command->get_name(), command->get_description(), {}};
    for (const CLI::Option* option : command->get_options()) {
      if (option->nonpositional()) entry.options.push_back(EntryOf(*option));
    }
    commands.push_back(std::move(entry));
  }
  commands.push_back({"help", "Show a command's help", {}});
  return commands;
}

std::string Joined(const std::vector<std::string>& words, const std::string& between = " ") {
  std::string text;
  for (const std::string& word : words) {
    if (!text.empty()) text += between;
    text += word;
  }
  return text;
}

// Text inside a pair of single quotes in bash, zsh, fish and PowerShell.
std::string Quoted(const std::string& text, const std::string& quote) {
  std::string out = "'";
  for (char c : text) {
    if (c == '\'') {
      out += quote;
    } else {
      out += c;
    }
  }
  return out + "'";
}
std::string ShellQuoted(const std::string& text) { return Quoted(text, "'\\''"); }
std::string FishQuoted(const std::string& text) {
  std::string escaped;
  for (char c : text) {
    if (c == '\\' || c == '\'') escaped += '\\';
    escaped += c;
  }
  return "'" + escaped + "'";
}
std::string PowerShellQuoted(const std::string& text) { return Quoted(text, "''"); }

std::string Bash(const std::vector<CommandEntry>& commands) {
  std::vector<std::string> names;
  for (const CommandEntry& command : commands) names.push_back(command.name);
  std::ostringstream s;
  s << "# bash completion for " << kProgram << "\n"
    << "_corvella_cli() {\n"
    << "  local cur=\"${COMP_WORDS[COMP_CWORD]}\" prev=\"${COMP_WORDS[COMP_CWORD-1]}\"\n"
    // --option=value: bash cuts the word at "=" into the option, "=" and
    // the value so far.
    << "  if [[ $cur == = ]]; then\n"
    << "    cur=\n"
    << "  elif [[ $prev == = ]] && ((COMP_CWORD >= 2)); then\n"
    << "    prev=\"${COMP_WORDS[COMP_CWORD-2]}\"\n"
    << "  fi\n"
    << "  local command= i\n"
    << "  for ((i = 1; i < COMP_CWORD; i++)); do\n"
    << "    case \"${COMP_WORDS[i]}\" in\n"
    << "      " << Joined(names, "|") << ") command=\"${COMP_WORDS[i]}\"; break ;;\n"
    << "    esac\n"
    << "  done\n"
    << "  COMPREPLY=()\n"
    << "  if [[ -z $command ]]; then\n"
    << "    mapfile -t COMPREPLY < <(compgen -W " << ShellQuoted(Joined(names) + " --help --version")
    << " -- \"$cur\")\n"
    << "    return\n"
    << "  fi\n"
    << "  local options=\n"
    << "  case \"$command\" in\n";
  for (const CommandEntry& command : commands) {
    s << "    " << command.name << ")\n";
    if (command.name == "help") {
      std::vector<std::string> others;
      for (const CommandEntry& c : commands)
        if (c.name != "help") others.push_back(c.name);
      s << "      mapfile -t COMPREPLY < <(compgen -W " << ShellQuoted(Joined(others))
        << " -- \"$cur\")\n"
        << "      return ;;\n";
      continue;
    }
    s << "      case \"$prev\" in\n";
    // A number or a name: nothing to offer.
    std::vector<std::string> texts;
    for (const OptionEntry& option : command.options) {
      if (option.value != Value::Text) continue;
      const std::vector<std::string> own = option.Names();
      texts.insert(texts.end(), own.begin(), own.end());
    }
    if (!texts.empty()) s << "        " << Joined(texts, "|") << ") return ;;\n";
    for (const OptionEntry& option : command.options) {
      if (option.value == Value::None || option.value == Value::Text ||
          option.value == Value::Optional)
        continue;
      s << "        " << Joined(option.Names(), "|") << ")\n";
      switch (option.value) {
        case Value::Choice:
          s << "          mapfile -t COMPREPLY < <(compgen -W " << ShellQuoted(Joined(option.choices))
            << " -- \"$cur\")\n";
          break;
        case Value::Folder:
          s << "          mapfile -t COMPREPLY < <(compgen -d -- \"$cur\")\n";
          break;
        case Value::File:
          s << "          mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n";
          break;
        default:
          break;
      }
      s << "          return ;;\n";
    }
    s << "      esac\n";
    std::vector<std::string> optionNames;
    for (const OptionEntry& option : command.options) {
      const std::vector<std::string> own = option.Names();
      optionNames.insert(optionNames.end(), own.begin(), own.end());
    }
    s << "      options=" << ShellQuoted(Joined(optionNames)) << " ;;\n";
  }
  s << "  esac\n"
    << "  if [[ $cur == -* ]]; then\n"
    << "    mapfile -t COMPREPLY < <(compgen -W \"$options\" -- \"$cur\")\n"
    << "  else\n"
    << "    mapfile -t COMPREPLY < <(compgen -f -- \"$cur\")\n"
    << "  fi\n"
    << "}\n"
    << "complete -o filenames -o bashdefault -F _corvella_cli " << kProgram << "\n";
  return s.str();
}

std::string Fish(const std::vector<CommandEntry>& commands) {
  std::ostringstream s;
  s << "# fish completion for " << kProgram << "\n"
    << "complete -c " << kProgram << " -f\n"
    << "complete -c " << kProgram << " -n __fish_use_subcommand -s h -l help -d 'Show the help'\n"
    << "complete -c " << kProgram
    << " -n __fish_use_subcommand -s V -l version -d 'Show the version'\n";
  std::vector<std::string> recordings;
  for (const CommandEntry& command : commands) {
    s << "complete -c " << kProgram << " -n __fish_use_subcommand -a " << command.name << " -d "
      << FishQuoted(command.description) << "\n";
    if (command.name == "help") {
      for (const CommandEntry& other : commands) {
        if (other.name == "help") continue;
        s << "complete -c " << kProgram << " -n '__fish_seen_subcommand_from help' -a "
          << other.name << " -d " << FishQuoted(other.description) << "\n";
      }
      continue;
    }
    recordings.push_back(command.name);
    const std::string when = "'__fish_seen_subcommand_from " + command.name + "'";
    for (const OptionEntry& option : command.options) {
      s << "complete -c " << kProgram << " -n " << when;
      if (!option.shortName.empty()) s << " -s " << option.shortName.substr(1);
      if (!option.longName.empty()) s << " -l " << option.longName.substr(2);
      switch (option.value) {
        case Value::None:
          break;
        case Value::Choice:
          s << " -x -a " << FishQuoted(Joined(option.choices));
          break;
        case Value::Folder:
          s << " -x -a '(__fish_complete_directories)'";
          break;
        case Value::File:
          s << " -r -F";
          break;
        case Value::Text:
          s << " -x";
          break;
        case Value::Optional:
          break;
      }
      s << " -d " << FishQuoted(option.description) << "\n";
    }
  }
  // The recordings themselves: any file.
  s << "complete -c " << kProgram << " -n '__fish_seen_subcommand_from " << Joined(recordings)
    << "' -F\n";
  return s.str();
}

// A description inside the [...] of an option in zsh's _arguments.
std::string ZshDescription(const std::string& text) {
  std::string out;
  for (char c : text) {
    if (c == '[' || c == ']' || c == ':' || c == '\\') out += '\\';
    out += c == '\'' ? '`' : c;
  }
  return out;
}

std::string Zsh(const std::vector<CommandEntry>& commands) {
  std::ostringstream s;
  s << "#compdef " << kProgram << "\n"
    << "# zsh completion for " << kProgram << "\n"
    << "_corvella_cli() {\n"
    << "  local state line\n"
    << "  local -a commands\n"
    << "  commands=(\n";
  for (const CommandEntry& command : commands) {
    std::string description = command.description;
    std::replace(description.begin(), description.end(), ':', ' ');
    s << "    " << ShellQuoted(command.name + ":" + description) << "\n";
  }
  s << "  )\n"
    << "  _arguments -C '(- *)'{-h,--help}'[Show the help]' '(- *)'{-V,--version}'[Show the "
       "version]' '1: :->command' '*:: :->args'\n"
    << "  case $state in\n"
    << "    command) _describe -t commands command commands ;;\n"
    << "    args)\n"
    << "      case $line[1] in\n";
  for (const CommandEntry& command : commands) {
    s << "        " << command.name << ")\n";
    if (command.name == "help") {
      s << "          _describe -t commands command commands ;;\n";
      continue;
    }
    s << "          _arguments";
    for (const OptionEntry& option : command.options) {
      const std::vector<std::string> names = option.Names();
      std::string action;
      switch (option.value) {
        case Value::None:
          break;
        case Value::Choice:
          action = ":value:(" + Joined(option.choices) + ")";
          break;
        case Value::Folder:
          action = ":folder:_files -/";
          break;
        case Value::File:
          action = ":file:_files";
          break;
        case Value::Text:
          action = ":value: ";
          break;
        case Value::Optional:
          break;
      }
      const std::string described = "[" + ZshDescription(option.description) + "]" + action;
      s << " \\\n            ";
      if (names.size() == 2) {
        s << ShellQuoted("(" + Joined(names) + ")") << "{" << Joined(names, ",") << "}"
          << ShellQuoted(described);
      } else {
        s << ShellQuoted(names.front() + described);
      }
    }
    s << " \\\n            '*:recording:_files' ;;\n";
  }
  s << "      esac ;;\n"
    << "  esac\n"
    << "}\n"
    << "_corvella_cli \"$@\"\n";
  return s.str();
}

std::string PowerShell(const std::vector<CommandEntry>& commands) {
  std::ostringstream s;
  s << "# PowerShell completion for " << kProgram << ": . .\\corvella-cli.ps1 (or from $PROFILE)\n"
    << "Register-ArgumentCompleter -Native -CommandName 'corvella-cli', 'corvella-cli.exe' "
       "-ScriptBlock {\n"
    << "  param($wordToComplete, $commandAst, $cursorPosition)\n"
    << "  $commands = @{\n";
  for (const CommandEntry& command : commands) {
    std::vector<std::string> names;
    for (const OptionEntry& option : command.options) {
      for (const std::string& name : option.Names()) names.push_back(PowerShellQuoted(name));
    }
    s << "    " << PowerShellQuoted(command.name) << " = @(" << Joined(names, ", ") << ")\n";
  }
  s << "  }\n"
    << "  $values = @{\n";
  for (const CommandEntry& command : commands) {
    for (const OptionEntry& option : command.options) {
      if (option.value == Value::None || option.value == Value::Optional) continue;
      std::string kind = option.value == Value::Choice   ? "@(" + [&] {
        std::vector<std::string> quoted;
        for (const std::string& c : option.choices) quoted.push_back(PowerShellQuoted(c));
        return Joined(quoted, ", ");
      }() + ")"
                         : option.value == Value::Folder ? "'folder'"
                         : option.value == Value::File   ? "'file'"
                                                         : "'text'";
      for (const std::string& name : option.Names())
        s << "    " << PowerShellQuoted(command.name + " " + name) << " = " << kind << "\n";
    }
  }
  s << "  }\n"
    << "  # The words before the cursor; the one being typed left out.\n"
    << "  $before = @($commandAst.CommandElements | Where-Object { $_.Extent.StartOffset -lt "
       "$cursorPosition } | ForEach-Object { $_.ToString() })\n"
    << "  if ($wordToComplete -ne '') { $before = @($before | Select-Object -SkipLast 1) }\n"
    << "  $previous = $before[-1]\n"
    << "  $command = $before | Select-Object -Skip 1 | Where-Object { $commands.ContainsKey($_) } "
       "| Select-Object -First 1\n"
    << "  function Offer($texts) { $texts | Where-Object { $_ -like \"$wordToComplete*\" } | "
       "ForEach-Object { [System.Management.Automation.CompletionResult]::new($_, $_, "
       "'ParameterValue', $_) } }\n"
    << "  function Files($folders) { Get-ChildItem -Path \"$wordToComplete*\" -ErrorAction "
       "SilentlyContinue | Where-Object { -not $folders -or $_.PSIsContainer } | ForEach-Object { "
       "$path = if ($_.FullName -match '^[\\w:\\\\/.-]+$') { $_.FullName } else { \"'\" + ($_.FullName -replace \"'\", \"''\") + \"'\" }; "
       "[System.Management.Automation.CompletionResult]::new($path, $_.Name, 'ProviderItem', "
       "$_.FullName) } }\n"
    << "  if (-not $command) { return Offer (@($commands.Keys | Sort-Object) + @('--help', "
       "'--version')) }\n"
    << "  if ($command -eq 'help') { return Offer @($commands.Keys | Where-Object { $_ -ne 'help' } "
       "| Sort-Object) }\n"
    << "  $value = $values[\"$command $previous\"]\n"
    << "  if ($value -is [array]) { return Offer $value }\n"
    << "  if ($value -eq 'folder') { return Files $true }\n"
    << "  if ($value -eq 'file') { return Files $false }\n"
    << "  if ($value) { return }\n"
    << "  if ($wordToComplete -like '-*') { return Offer $commands[$command] }\n"
    << "  Files $false\n"
    << "}\n";
  return s.str();
}

}  // namespace

const std::vector<std::string>& CompletionShells() {
  static const std::vector<std::string> shells{"bash", "zsh", "fish", "powershell"};
  return shells;
}

std::string CompletionScript(const CLI::App& app, const std::string& shell) {
  const std::vector<CommandEntry> commands = CommandsOf(app);
  if (shell == "bash") return Bash(commands);
  if (shell == "zsh") return Zsh(commands);
  if (shell == "fish") return Fish(commands);
  if (shell == "powershell") return PowerShell(commands);
  return {};
}

}  // namespace corvella::cli
