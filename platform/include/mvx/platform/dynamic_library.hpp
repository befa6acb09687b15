// A shared library loaded at run time (dlopen / dlsym / dlclose), owned by one
// object: the library is closed when the object is destroyed or reset, and
// only when it was opened.
#pragma once

#include <string>

namespace mvx::platform {

class DynamicLibrary {
public:
    DynamicLibrary() = default;
    ~DynamicLibrary();
    DynamicLibrary(const DynamicLibrary&) = delete;
    DynamicLibrary& operator=(const DynamicLibrary&) = delete;
    DynamicLibrary(DynamicLibrary&& other) noexcept;
    DynamicLibrary& operator=(DynamicLibrary&& other) noexcept;

    // Loads the library at path (a plain name uses the normal library search).
    // Closes a library held before.  False on failure; error() says why.
    bool open(const std::string& path);
    void close();
    bool isOpen() const { return handle_ != nullptr; }

    // The address of an exported symbol, or nullptr when the library is not
    // open or lacks it.
    void* symbol(const char* name) const;

    template <typename Fn>
    Fn function(const char* name) const
    {
        return reinterpret_cast<Fn>(symbol(name));
    }

    const std::string& path() const { return path_; }
    const std::string& error() const { return error_; }

private:
    void* handle_ = nullptr;
    std::string path_;
    mutable std::string error_;
};

}  // namespace mvx::platform
