#include "platform/windows/win32_shell.h"

#include "platform/windows/wide_text.h"

#include <windows.h>

#include <shellapi.h>
// The interface's method shares the name of the header's A/W macro.
#undef ShellExecute

namespace tamberly {
namespace {
const wchar_t* orNull(const std::wstring& text) {
    return text.empty() ? nullptr : text.c_str();
}
} // namespace

std::uintptr_t Win32Shell::GetDesktopWindow() {
    return reinterpret_cast<std::uintptr_t>(::GetDesktopWindow());
}

long Win32Shell::ShellExecute(std::uintptr_t owner, const std::string& verb, const std::string& file,
                              const std::string& parameters, const std::string& directory, int showCommand) {
    const std::wstring wideVerb = widen(verb), wideFile = widen(file), wideParameters = widen(parameters),
                       wideDirectory = widen(directory);
    const HINSTANCE result = ::ShellExecuteW(reinterpret_cast<HWND>(owner), orNull(wideVerb), wideFile.c_str(),
                                             orNull(wideParameters), orNull(wideDirectory), showCommand);
    return static_cast<long>(reinterpret_cast<INT_PTR>(result));
}

} // namespace tamberly
