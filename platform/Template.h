// The built-in content of a fresh replacement system.
#pragma once

#include "platform/hive/HiveTree.h"

#include <memory>
#include <string>

namespace vt::platform::detail
{

enum class TemplateHive { System, Software, Sam, Security, Default, User, Hardware };

struct TemplateContext {
    std::string userName;
    std::string userSid;
    std::string computerName;
};

// The root key of a new hive, filled from the template.
std::unique_ptr<vt::hive::Key> buildTemplateHive(TemplateHive which, const TemplateContext &ctx, uint64_t time);

} // namespace vt::platform::detail
