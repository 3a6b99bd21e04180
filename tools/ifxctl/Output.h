#pragma once

// How ifxctl speaks: results on standard output, everything else on standard error with
// the tool's name in front, one line per message.

#include <cstddef>
#include <string>

namespace ifxctl {

// Writes all of text to fd, resuming after signals and short writes. False with errno
// set when the descriptor refuses it (a closed pipe, a full disk).
bool WriteAll(int fd, const char* text, size_t length);

// One line on standard output. False when it could not be written.
bool PrintLine(const std::string& line);

// "ifxctl: <message>" on standard error, always on a line of its own: after a utility's
// output that ended without a newline on the same terminal or file, a newline first.
void Complain(const std::string& message);

// Tells Complain how the last output copied to standard output ended.
void NoteOutputEnd(char last);

// Says that standard output refused a result (errno tells why); returns the exit status
// for it.
int OutputFailed();

// strerror for error, with the number: "No such file or directory (errno 2)".
std::string ErrorText(int error);

}  // namespace ifxctl
