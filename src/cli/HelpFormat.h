// Help as a reader of flac's or git's expects it: a one-line synopsis, the
// options in their groups, one short line each, wrapped to 80 columns.
#pragma once

#include <CLI/CLI.hpp>
#include <string>

namespace corvella::cli {

class HelpFormat : public CLI::Formatter {
 public:
  HelpFormat() { column_width(30); }
  std::string make_option_opts(const CLI::Option* option) const override;
  std::string make_option(const CLI::Option* option, bool positional) const override;
  std::string make_description(const CLI::App* app) const override;
  std::string make_footer(const CLI::App* app) const override;
  std::string make_help(const CLI::App* app, std::string name, CLI::AppFormatMode mode) const override;
};

// `text` wrapped to 80 columns, lines after the first indented by `indent`.
std::string Wrapped(const std::string& text, std::size_t first, std::size_t indent);

}  // namespace corvella::cli
