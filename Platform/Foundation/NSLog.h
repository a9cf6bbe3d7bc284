// NSLog: the system log of the host application, one line per event on standard error (the
// journal keeps it for sessions started at login).
#pragma once

#include <string>
#include <string_view>

// Writes "<date> <time with ms> <process name>[<pid>:<tid>] <message>" and a line feed to
// standard error in one write. The message is literal text: nothing in it is a format, so a
// "%" from a tool's output is printed as it is. Thread-safe.
void NSLog(std::string_view message);

// The line NSLog would write for `message` (without the line feed), for tests.
std::string formatLogLine(std::string_view message);
