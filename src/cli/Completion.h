// Shell completion for corvella-cli, made from the same option definitions
// as --help, so that the two cannot tell different stories: bash, zsh, fish
// and PowerShell scripts that complete the commands, each command's options,
// the values an option takes from a fixed set (formats, --to), folders
// after --output-dir and file names elsewhere.
#pragma once

#include <CLI/CLI.hpp>
#include <string>
#include <vector>

namespace corvella::cli {

// The shells a script is made for.
const std::vector<std::string>& CompletionShells();

// The script for `shell` (one of CompletionShells()), completing the
// commands of `app` for the program named `program`.
std::string CompletionScript(const CLI::App& app, const std::string& shell);

}  // namespace corvella::cli
