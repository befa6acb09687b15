#include "mvx/platform/dynamic_library.hpp"

#include <dlfcn.h>

#include <utility>

namespace mvx::platform {

DynamicLibrary::~DynamicLibrary()
{
    close();
}

DynamicLibrary::DynamicLibrary(DynamicLibrary&& other) noexcept
    : handle_(std::exchange(other.handle_, nullptr)),
      path_(std::move(other.path_)),
      error_(std::move(other.error_))
{
}

DynamicLibrary& DynamicLibrary::operator=(DynamicLibrary&& other) noexcept
{
    if (this != &other) {
        close();
        handle_ = std::exchange(other.handle_, nullptr);
        path_ = std::move(other.path_);
        error_ = std::move(other.error_);
    }
    return *this;
}

bool DynamicLibrary::open(const std::string& path)
{
    close();
    error_.clear();
    if (path.empty()) {
        error_ = "empty library path";
        return false;
    }
    handle_ = ::dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (handle_ == nullptr) {
        const char* why = ::dlerror();
        error_ = why != nullptr ? why : ("cannot load " + path);
        return false;
    }
    path_ = path;
    return true;
}

void DynamicLibrary::close()
{
    if (handle_ != nullptr) {
        ::dlclose(handle_);
        handle_ = nullptr;
    }
    path_.clear();
}

void* DynamicLibrary::symbol(const char* name) const
{
    if (handle_ == nullptr || name == nullptr)
        return nullptr;
    ::dlerror();
    void* address = ::dlsym(handle_, name);
    if (address == nullptr) {
        const char* why = ::dlerror();
        error_ = why != nullptr ? why : std::string("no symbol ") + name;
    }
    return address;
}

}  // namespace mvx::platform
