// A loaded shared library. Only absolute paths are accepted, so the library search path can
// never substitute another library for the one meant.
#pragma once

#include <string>

namespace platform {

// The folder, with a trailing "/", of the module file (program or shared library) that holds
// `address`, its links resolved; empty when it cannot be found.
std::string ModuleFolderOf(const void* address);

class Module {
public:
    Module() = default;
    ~Module() { Unload(); }
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;
    Module(Module&& other) noexcept;
    Module& operator=(Module&& other) noexcept;

    // dlopen(path, RTLD_NOW | RTLD_LOCAL). False for a relative path or when loading fails
    // (LastError() says why). A module already held is unloaded first.
    bool Load(const std::string& absolutePath);
    // Address of an exported symbol, or nullptr.
    void* Symbol(const char* name) const;
    // dlclose; a second call does nothing.
    void Unload();

    bool IsLoaded() const { return m_handle != nullptr; }
    const std::string& Path() const { return m_path; }
    const std::string& LastError() const { return m_error; }

private:
    void* m_handle = nullptr;
    std::string m_path;
    std::string m_error;
};

} // namespace platform
