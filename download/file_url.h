// The address of a listed file. Thread: any; stateless.
#pragma once

#include <string>

// base (the list's URL, taken as it is) followed by name with every byte outside RFC 3986's
// unreserved characters and '/' percent-encoded, so a space, '#', '?' or '%' in a name is
// part of the path the server looks up, never a fragment, a query or an escape.
std::string MakeFileUrl(const std::string& base, const std::string& name);
