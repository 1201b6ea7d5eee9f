#pragma once

#include "platform/registry.h"

#include <string>

namespace tamberly {

/// The registry on Linux: one text file in the registry editor's own format
/// ("Windows Registry Editor Version 5.00", [key] sections, "Name"="text" and "Name"=dword:0000000N lines),
/// readable and editable by a person. Every write replaces the file atomically under a lock and keeps every
/// other key and value; lines it does not understand are kept as they are.
class RegistryFile final : public Registry {
public:
    explicit RegistryFile(std::string path);

    void RegWrite(const std::string& fullName, const RegValue& value, const std::string& typeName) override;
    std::optional<RegValue> RegRead(const std::string& fullName) override;

    const std::string& path() const { return m_path; }

private:
    std::string m_path;
};

} // namespace tamberly
