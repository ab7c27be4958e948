/* The interactive prompt of the command-line manager. */
#ifndef VEK_APPS_CLI_INTERACTIVE_H
#define VEK_APPS_CLI_INTERACTIVE_H

#include <string>
#include <string_view>
#include <vector>

inline constexpr size_t k_cli_max_line_chars = 511; /* characters of one input line, and of one word */
inline constexpr size_t k_cli_max_words = 63;       /* words of one input line */

/* Splits a line into words at blanks and tabs. A double quote opens a run, closed by the next double
 * quote, whose blanks and tabs belong to the word; the quotes themselves are dropped, an unclosed
 * quote runs to the end of the line. At most k_cli_max_words words of at most k_cli_max_line_chars
 * characters each are kept; the rest of a longer word is skipped. */
std::vector<std::string> cli_split_words(std::string_view line);

/* Runs the prompt until exit or the end of input; never returns. */
[[noreturn]] void cli_interactive_mode();

#endif
