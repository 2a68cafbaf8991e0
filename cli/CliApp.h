// Entry of vantrel-cli: global options, the verb table and dispatch.
#pragma once

#include "cli/Command.h"

#include <functional>
#include <iosfwd>
#include <memory>
#include <string>
#include <vector>

namespace vt::cli
{

struct VerbEntry {
    const char *name; // lower case
    std::function<std::unique_ptr<Command>()> create;
};

const std::vector<VerbEntry> &verbTable();

// Case-insensitive lookup; null for an unknown verb.
std::unique_ptr<Command> createCommand(const std::string &verb);

// args: the words after the program name. [--system DIR] [--as-system] VERB
// ARGS...; the system root is DIR, else VANTREL_SYSTEM, else the default.
// `processEnds`: the caller exits right after, so the system's memory is
// left to the exit rather than freed.
int runCli(const std::vector<std::string> &args, std::istream &in, std::ostream &out, std::ostream &err,
           bool processEnds = false);

} // namespace vt::cli
