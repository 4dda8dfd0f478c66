// What qbdump says, and where: its output on standard output, its errors on
// standard error, and its exit status as grep and cmp have it.
#pragma once

#include <string>
#include <string_view>

namespace dbgparse::qbdump {

constexpr int exit_success = 0;
constexpr int exit_nothing_found = 1;
constexpr int exit_trouble = 2;

// "qbdump: MESSAGE" on standard error, after what standard output holds.
void say_error(const std::string& message);
// A whole line, its end included, written as say_error writes.
void say_error_line(const std::string& line);

// The message for a bad command line, and where to find the usage.
int usage_error(const std::string& message);

// ": " and the system's reason for the failure just seen, when it gave one.
std::string because();

bool write_out(std::string_view text);

// A table's path as the messages name it: "-" is standard input.
std::string table_name(const std::string& path);
// The same with its control bytes shown as \xhh (text::shown_path).
std::string shown_name(const std::string& path);

}  // namespace dbgparse::qbdump
