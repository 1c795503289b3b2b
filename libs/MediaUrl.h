// The libraries read "name:rest" as a protocol and its address.
#pragma once

#include <string>

// A file name as the libraries should open it: a local file whose name only looks like an
// address of an unknown protocol ("take:1.wav") gets its absolute path; anything else is unchanged.
std::string MediaUrl(const std::string &fileName);

// A local file's name as the libraries must be given it to open that very file, however much it
// looks like an address ("pipe:0.wav", "file:y.wav", "concat:a|b.wav", "http:x.wav").
std::string FileUrl(const std::string &path);
