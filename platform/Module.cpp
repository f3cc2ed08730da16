#include "platform/Module.h"

#include <dlfcn.h>
#include <utility>

namespace platform {

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
