// The verbs of vantrel-cli.
#pragma once

#include "cli/Command.h"

namespace vt::cli
{

class QueryCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "QUERY"; }
    bool readsOnly() const override { return true; }
    std::string usage() const override;
};

class AddCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "ADD"; }
    std::string usage() const override;
};

class DeleteCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "DELETE"; }
    std::string usage() const override;
};

class CopyCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "COPY"; }
    std::string usage() const override;
    bool ask(const std::string &question, std::ostream &out);
};

class LoadCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "LOAD"; }
    std::string usage() const override;
};

class UnloadCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "UNLOAD"; }
    std::string usage() const override;
};

class SaveCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "SAVE"; }
    bool readsOnly() const override { return true; }
    std::string usage() const override;
};

class RestoreCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "RESTORE"; }
    std::string usage() const override;
};

class CompareCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "COMPARE"; }
    bool readsOnly() const override { return true; }
    std::string usage() const override;
};

class SummaryCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "SUMMARY"; }
    bool readsOnly() const override { return true; }
    std::string usage() const override;
};

class RecoverCommand : public Command
{
public:
    int execute(const std::vector<std::string> &args, std::ostream &out, std::ostream &err) override;
    std::string name() const override { return "RECOVER"; }
    std::string usage() const override;
};

} // namespace vt::cli
