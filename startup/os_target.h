// UnsupportedOsTarget: what the refusal of an unsupported Windows may open.
#pragma once
#include "base/wide_text.h"

// True for a URL (a scheme of two or more characters and a colon, such as
// https:) or a full path (drive letter, colon and backslash; or \\server\).
// Anything else would be taken relative to a current directory that the
// user who started the setup chose.
bool IsAbsoluteTarget(const WChar* target);
