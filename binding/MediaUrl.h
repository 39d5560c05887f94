#pragma once
#include <string>

// The name to hand the format library for a file the user named. The
// library reads a leading "word:" as a protocol, so a relative name such as
// "take2:final.mp4" or "pipe:0.mp4" would not reach the file; such names get
// a "./" in front. Names of the form "scheme://..." are network addresses and
// pass unchanged, as do names without a colon before their first "/".
std::string MediaUrl(const std::string& fileName);
