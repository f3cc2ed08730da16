#include "platform/Module.h"

#include <climits>
#include <cstdlib>
#include <dlfcn.h>
#include <utility>

namespace platform {

std::string ModuleFolderOf(const void* address) {
    Dl_info info{};
    if (dladdr(address, &info) == 0 || !info.dli_fname)
        return {};
    char resolved[PATH_MAX];
    const std::string file = realpath(info.dli_fname, resolved) ? resolved : info.dli_fname;
    const size_t slash = file.rfind('/');
    if (slash == std::string::npos)
        return {};
    return file.substr(0, slash + 1);
}

Module::Module(Module&& other) noexcept
    : m_handle(std::exchange(other.m_handle, nullptr)), m_path(std::move(other.m_path)),
      m_error(std::move(other.m_error)) {}

Module& Module::operator=(Module&& other) noexcept {
    if (this != &other) {
        Unload();
        m_handle = std::exchange(other.m_handle, nullptr);
        m_path = std::move(other.m_path);
        m_error = std::move(other.m_error);
    }
    return *this;
}

bool Module::Load(const std::string& absolutePath) {
    Unload();
    m_error.clear();
    if (absolutePath.empty() || absolutePath.front() != '/') {
        m_error = "not an absolute path: " + absolutePath;
        return false;
    }
    m_handle = ::dlopen(absolutePath.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (!m_handle) {
        const char* why = ::dlerror();
        m_error = why ? why : "dlopen failed";
        return false;
    }
    m_path = absolutePath;
    return true;
}

void* Module::Symbol(const char* name) const {
    if (!m_handle || !name)
        return nullptr;
    return ::dlsym(m_handle, name);
}

void Module::Unload() {
    if (!m_handle)
        return;
    ::dlclose(m_handle);
    m_handle = nullptr;
    m_path.clear();
}

} // namespace platform
