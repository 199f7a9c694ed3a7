#include "cli/HelpFormat.h"

#include <sstream>

namespace corvella::cli {

constexpr std::size_t kWidth = 80;

std::string Wrapped(const std::string& text, std::size_t first, std::size_t indent) {
  std::string out;
  std::size_t column = first;
  std::istringstream words(text);
  for (std::string word; words >> word;) {
    if (column > indent && column + 1 + word.size() > kWidth) {
      out.push_back('\n');
      out.append(indent, ' ');
      column = indent;
    } else if (column > indent || (column == indent && !out.empty() && out.back() != ' ')) {
      out.push_back(' ');
      ++column;
    }
    out.append(word);
    column += word.size();
  }
  return out;
}

std::string HelpFormat::make_option_opts(const CLI::Option* option) const {
  if (option->get_type_size() == 0) return "";
  // The value's name only: what it needs and excludes is said when it matters.
  std::string name = option->get_type_name();
  const std::size_t colon = name.find(':');
  if (colon != std::string::npos) name.erase(colon);
  if (option->get_positional()) return option->get_expected_max() > 1 ? "..." : "";
  return " " + name;
}

std::string HelpFormat::make_option(const CLI::Option* option, bool positional) const {
  std::string left = "  " + make_option_name(option, positional) + make_option_opts(option);
  const std::size_t width = get_column_width();
  std::string line = left;
  if (left.size() + 1 > width) {
    line.push_back('\n');
    line.append(width, ' ');
  } else {
    line.append(width - left.size(), ' ');
  }
  line += Wrapped(make_option_desc(option), width, width);
  line.push_back('\n');
  return line;
}

std::string HelpFormat::make_description(const CLI::App* app) const {
  const std::string& text = app->get_description();
  if (text.empty()) return "";
  std::string out;
  std::istringstream lines(text);
  for (std::string line; std::getline(lines, line);) out += Wrapped(line, 0, 0) + "\n";
  return out;
}

std::string HelpFormat::make_footer(const CLI::App* app) const {
  const std::string& footer = app->get_footer();
  return footer.empty() ? "" : footer + "\n";
}

std::string HelpFormat::make_help(const CLI::App* app, std::string name,
                                  CLI::AppFormatMode mode) const {
  // Each group of options under its heading, one blank line before it.
  std::string out = make_description(app) + make_usage(app, std::move(name)) + make_positionals(app);
  for (const std::string& group : app->get_groups()) {
    const std::vector<const CLI::Option*> options =
        app->get_options([&](const CLI::Option* option) {
          return option->get_group() == group && option->nonpositional() &&
                 (mode != CLI::AppFormatMode::Sub || app->get_help_ptr() != option);
        });
    if (!group.empty() && !options.empty()) out += make_group(group, false, options);
  }
  return out + make_subcommands(app, mode) + "\n" + make_footer(app);
}

}  // namespace corvella::cli
