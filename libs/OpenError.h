// Message for a library error code returned while opening a file.
#pragma once

#include <string>

std::string PrintOpenError(const std::string &fileName, int errorCode);
