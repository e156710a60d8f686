// The program's surroundings: its arguments, standard streams and console, and how much it may
// run at once.
#pragma once

#include <cstdio>
#include <string>
#include <vector>

namespace varnel::platform {

// Standard input, output and error that the process was started without are opened on the null
// device, before anything else is opened: a file opened later would otherwise take the place of
// one of them, and the program's lines would go into it.
void open_missing_standard_streams();

// The arguments after the program's name.
std::vector<std::string> program_arguments(int argc, char** argv);

// The number of processors this process may use; at least one.
unsigned processor_count();

// How many conversions may run at once within the process's limit on open files; at least one.
unsigned workers_within_file_limit();

// Prints text at once, so that a build script's log keeps its order. On Windows the console shows
// every character of it; redirected, it is in the console's code page.
void print_text(std::FILE* out, const std::string& text);

// True when the program was started by Windows Explorer: a double click, or files dropped on it.
bool started_from_explorer();

// True when a program of this name is Windows Explorer.
bool is_explorer(const std::string& program);

// When the program was started from Explorer and is alone on its console, asks for a key before
// the console closes, so that its lines can be read.
void wait_for_a_key_if_started_from_explorer();

}  // namespace varnel::platform
