// The EXPORT and IMPORT verbs: registry files of version 5 (default) or 4.
#pragma once

#include "cli/Command.h"

namespace vt::cli
{

class ExportCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "EXPORT"; }
    bool readsOnly() const override { return true; }
    std::string usage() const override;
};

class ImportCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "IMPORT"; }
    std::string usage() const override;
};

} // namespace vt::cli
