#include "platform/windows/run_key_session_start.h"

#include <variant>

namespace tamberly {

RunKeySessionStart::RunKeySessionStart(RegistryKey& run, RegistryKey& approved, std::string program)
    : m_run(run), m_approved(approved), m_program(std::move(program)) {}

std::string RunKeySessionStart::command(const std::string& program) {
    return '"' + program + "\" --hidden";
}

bool RunKeySessionStart::enabled() const {
    const RegistryRead value = m_run.read(kValueName);
    const auto* text = value.data ? std::get_if<std::string>(&*value.data) : nullptr;
    return text && !text->empty();
}

std::string RunKeySessionStart::setEnabled(bool on) {
    if (!on)
        return m_run.remove(kValueName);
    if (std::string why = m_run.write(kValueName, command(m_program)); !why.empty())
        return why;
    // An entry turned off in Task Manager stays off while its record is there: turning it on here clears it.
    m_approved.remove(kValueName);
    return {};
}

} // namespace tamberly
