// Messages for library error codes.
#pragma once

#include <string>

// Message for a code returned while opening a file: the file name and the text mapped for the code.
// A code with no text of its own is "Error while opening file", with the system's reason after it
// in parentheses when the code carries one.
std::string PrintOpenError(const std::string &fileName, int errorCode);

// The system's reason for a code made of an errno value (AVERROR(errno)); empty for other codes.
std::string SystemReason(int errorCode);

// The libraries' own text for any error code: the system's reason or the libraries' meaning.
// Without the libraries loaded, the system's reason or the bare number.
std::string LibraryErrorText(int errorCode);

// Message for a code returned while writing a file: "Could not write to 'NAME': reason".
std::string PrintWriteError(const std::string &fileName, int errorCode);
