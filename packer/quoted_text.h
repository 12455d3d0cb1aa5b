// Text from a package or a command line as it may reach a terminal: quoted,
// with control characters escaped, so that one value stays one line and an
// ESC in a name cannot drive the terminal.
#pragma once
#include <string>

std::string QuotedText(const std::string& text);
